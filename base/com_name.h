// Names of serial ports as the program's settings and the user write them.
#pragma once

#include <string_view>

// n for "COMn", n a decimal number from 1 written without a leading zero and
// at most 6 digits long; 0 for any other name ("com1", "COM", "COM0",
// "COM01", "COM1a", "COM 1"). Which n the program accepts is its own check.
int ComPortNumber(std::string_view name);

// Conversion between the program's UTF-8 texts and the Windows-1251 bytes
// of its files and of the exchange.
#pragma once

#include <string>

// UTF-8 to Windows-1251; a character the code page lacks becomes "?".
std::string ToCp1251(const std::string& utf8);
// Windows-1251 to UTF-8 (every byte has a meaning, except 0x98, read as "?").
std::string FromCp1251(const std::string& cp1251);

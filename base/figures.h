// name=value lines of figures, for programs to read (the benchmarks): a
// number is written with a dot whatever the locale, which a Qt application
// takes from the environment for the whole process.
#pragma once

#include <string>

// "name=value" with decimals digits after the point, no line end.
std::string FigureLine(const std::string& name, double value, int decimals);

// Prints FigureLine and a line end on standard output.
void PrintFigure(const std::string& name, double value, int decimals);

// Outputs that would replace what a report is made of, or one another: a
// run refuses them before it writes anything.
#pragma once

#include <string>
#include <vector>

// Whether a and b name one file: the same device and inode when both are
// there (links followed); else the same path once made absolute, with the
// links of its existing directories resolved.
bool SameFile(const std::string& a, const std::string& b);

// A file a report reads or writes, as the user named it, and what it is to
// the user: an input ("файл тарифов") or an output's option ("--bill-csv").
struct TNamedFile {
    std::string Path;
    std::string Role;
};

// The refusal of path as an output when it is one of inputs:
// "Файл "<path>" — <role>. Сохраните в другой файл."; empty when it is none.
std::string InputClash(const std::string& path, const std::vector<TNamedFile>& inputs);

// The refusal of the first of outputs that is one of inputs or an output
// before it; empty when each is a file of its own. A device (a terminal,
// /dev/null) is written in place, replacing nothing, and may be named twice.
std::string OutputsClash(const std::vector<TNamedFile>& outputs,
                         const std::vector<TNamedFile>& inputs);

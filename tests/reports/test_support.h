// Helpers shared by the report tests.
#pragma once

#include <string>

#include "calllog_gen.h"

// A temporary directory, removed with everything in it at the end of scope.
class TTempDir {
  public:
    TTempDir();
    ~TTempDir();
    TTempDir(const TTempDir&) = delete;
    TTempDir& operator=(const TTempDir&) = delete;
    std::string Path(const std::string& name) const { return dir_ + "/" + name; }
    const std::string& Dir() const { return dir_; }

  private:
    std::string dir_;
};

void WriteFile(const std::string& path, const std::string& bytes);
std::string ReadFile(const std::string& path);

// A standard call line: hardware line hw, programmed number prg, trunk,
// dialled number, duration "hh:mm:ss".
std::string CallLine(int hw, const std::string& prg, const std::string& trunk,
                     const std::string& dial, int dh = 0, int dm = 1, int ds = 35);

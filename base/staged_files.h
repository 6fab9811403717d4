// New files written whole beside their targets and put in place together:
// a run that writes several files replaces all of them or, when one fails
// to be written, none.
#pragma once

#include <string>
#include <utility>
#include <vector>

class TStagedFiles {
  public:
    TStagedFiles() = default;
    // Removes every new file not put in place; errno is kept.
    ~TStagedFiles();
    TStagedFiles(const TStagedFiles&) = delete;
    TStagedFiles& operator=(const TStagedFiles&) = delete;

    // Takes over a complete new file, to be renamed over target.
    void Add(const std::string& file, const std::string& target);
    // Renames every new file over its target, in the order added. False,
    // with errno, when one could not be; Failed() names its target, the
    // files before it are in place and the ones after it removed.
    bool Commit();
    const std::string& Failed() const { return failed_; }

  private:
    std::vector<std::pair<std::string, std::string>> files_;  // new file, target
    std::string failed_;
};

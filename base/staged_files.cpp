#include "base/staged_files.h"

#include <unistd.h>

#include <cerrno>
#include <cstdio>

TStagedFiles::~TStagedFiles() {
    const int saved = errno;
    for (const auto& staged : files_)
        ::unlink(staged.first.c_str());
    errno = saved;
}

void TStagedFiles::Add(const std::string& file, const std::string& target) {
    files_.emplace_back(file, target);
}

bool TStagedFiles::Commit() {
    for (size_t i = 0; i < files_.size(); ++i) {
        if (std::rename(files_[i].first.c_str(), files_[i].second.c_str()) != 0) {
            failed_ = files_[i].second;
            files_.erase(files_.begin(), files_.begin() + static_cast<std::ptrdiff_t>(i));
            return false;  // the destructor removes the rest
        }
    }
    files_.clear();
    return true;
}

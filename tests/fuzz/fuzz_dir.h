// The directory a harness keeps its files in, made once per process.
#pragma once

#include <unistd.h>

#include <cstdlib>

#include "tests/common/test_support.h"

// The harness's own empty directory, removed when the process ends. Made
// in memory (/dev/shm) unless TMPDIR says otherwise: on ext4 a file that is
// truncated and closed goes straight out to the disk, which makes a harness
// that rewrites a file per input a hundred times slower.
inline const testing_support::TTempDir& FuzzDir() {
    static const bool chosen = [] {
        if (!std::getenv("TMPDIR") && ::access("/dev/shm", W_OK) == 0)
            ::setenv("TMPDIR", "/dev/shm", 0);
        return true;
    }();
    static const testing_support::TTempDir dir;
    (void)chosen;
    return dir;
}

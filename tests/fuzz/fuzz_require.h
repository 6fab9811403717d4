// How a harness's property fails: a message and abort(), which libFuzzer
// reports as a crash and keeps the input of.
#pragma once

#include <cstdio>
#include <cstdlib>

// Aborts with what when ok is false.
inline void FuzzRequire(bool ok, const char* what) {
    if (ok) return;
    std::fprintf(stderr, "property does not hold: %s\n", what);
    std::abort();
}

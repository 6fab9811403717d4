#!/usr/bin/env bash
# Installs what is missing, builds everything and runs every test; then the
# same tests built with AddressSanitizer and UndefinedBehaviorSanitizer, and
# every fuzz harness once over its seed corpus.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/build.sh
export QT_QPA_PLATFORM=offscreen
ctest --test-dir build --output-on-failure -j2 --timeout 300

# Any finding of either sanitizer ends its test with a failure: ASan and
# LeakSanitizer by their exit status, UBSan by aborting. The one leak of a
# library the program cannot mend is named in tests/lsan.supp.
cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DTALLYPHON_SANITIZE=ON -DTALLYPHON_BENCHMARKS=OFF >/dev/null
cmake --build build-asan -j2
UBSAN_OPTIONS=print_stacktrace=1 LSAN_OPTIONS=suppressions=$PWD/tests/lsan.supp \
    ctest --test-dir build-asan --output-on-failure -j2 --timeout 300

cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_CXX_COMPILER=clang++-14 -DTALLYPHON_FUZZ=ON >/dev/null
cmake --build build-fuzz -j2
ctest --test-dir build-fuzz --output-on-failure -j2 --timeout 300

#!/usr/bin/env bash
# Database benchmark: ships the 1,000,000-line call-log file into an empty
# database of a throw-away cluster as an office's role, makes the
# subscriber-line report of ten offices (10,000,000 calls) from it, and
# counts the calls lost through 50 rotations while shipping.
# Usage: scripts/bench_sites.sh [FILE] [LINES]
#   FILE  call-log file, generated when absent (default /tmp/tallyphon_calllog_1m.txt)
#   LINES lines to generate (default 1000000)
# BUILD_DIR selects the build directory (default build).
set -euo pipefail
cd "$(dirname "$0")/.."
FILE=${1:-/tmp/tallyphon_calllog_1m.txt}
LINES=${2:-1000000}
BUILD_DIR=${BUILD_DIR:-build}

[[ -f $BUILD_DIR/CMakeCache.txt ]] ||
    cmake -S . -B "$BUILD_DIR" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$BUILD_DIR" --target bench_sites gen_calllog -j2 >/dev/null
if [[ ! -f $FILE ]]; then
    echo "generating $LINES lines into $FILE" >&2
    "$BUILD_DIR/tools/gen_calllog/gen_calllog" "$LINES" "$FILE"
fi
echo "file=$FILE"
"$BUILD_DIR/bench/bench_sites/bench_sites" "$FILE"

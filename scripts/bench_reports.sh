#!/usr/bin/env bash
# Report loading benchmark: bench_reports against awk doing the same
# aggregation (total seconds per hardware number and per trunk).
# Usage: scripts/bench_reports.sh [FILE] [LINES]
#   FILE  call-log file, generated when absent (default /tmp/tallyphon_calllog_1m.txt)
#   LINES lines to generate (default 1000000)
# BUILD_DIR selects the build directory (default build).
set -euo pipefail
cd "$(dirname "$0")/.."
FILE=${1:-/tmp/tallyphon_calllog_1m.txt}
LINES=${2:-1000000}
BUILD_DIR=${BUILD_DIR:-build}

if [[ ! -x $BUILD_DIR/bench/bench_reports/bench_reports || ! -x $BUILD_DIR/tools/gen_calllog/gen_calllog ]]; then
    [[ -f $BUILD_DIR/CMakeCache.txt ]] ||
        cmake -S . -B "$BUILD_DIR" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
    cmake --build "$BUILD_DIR" --target bench_reports gen_calllog -j2 >/dev/null
fi
if [[ ! -f $FILE ]]; then
    echo "generating $LINES lines into $FILE" >&2
    "$BUILD_DIR/tools/gen_calllog/gen_calllog" "$LINES" "$FILE"
fi

now() { date +%s.%N; }

echo "file=$FILE"
echo "file_mb=$(awk -v b="$(stat -c %s "$FILE")" 'BEGIN { printf "%.1f", b / 1048576 }')"
# Read the file once so that both runs find it in the page cache.
cat "$FILE" >/dev/null

t0=$(now)
"$BUILD_DIR/bench/bench_reports/bench_reports" "$FILE"
t1=$(now)

# The same aggregation in awk, by the loader's column rules: lines of 47
# characters or more not starting with a blank; duration at columns 23-30;
# hardware number from column 34 up to "("; the trunk is the first word after ")".
LC_ALL=C awk 'BEGIN { RS = "\r\n" }
length($0) >= 47 && substr($0, 1, 1) != " " {
    s = substr($0, 23, 2) * 3600 + substr($0, 26, 2) * 60 + substr($0, 29, 2)
    rest = substr($0, 34)
    hw = substr(rest, 1, index(rest, "(") - 1)
    n = split(substr(rest, index(rest, ")") + 1), w, " ")
    trunk = n > 0 ? w[1] : ""
    per_hw[hw] += s
    per_trunk[trunk] += s
    total += s
}
END {
    for (k in per_hw) nh++
    for (k in per_trunk) nt++
    printf "awk_subscriber_lines=%d\nawk_trunks=%d\nawk_traffic_s=%d\n", nh, nt, total
}' "$FILE"
t2=$(now)

bench_wall=$(awk -v a="$t0" -v b="$t1" 'BEGIN { printf "%.3f", b - a }')
awk_wall=$(awk -v a="$t1" -v b="$t2" 'BEGIN { printf "%.3f", b - a }')
echo "bench_reports_wall_s=$bench_wall"
echo "awk_s=$awk_wall"
echo "awk_over_bench_ratio=$(awk -v a="$awk_wall" -v b="$bench_wall" 'BEGIN { printf "%.1f", a / b }')"

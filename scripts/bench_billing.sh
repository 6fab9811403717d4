#!/usr/bin/env bash
# Billing benchmark: the engine's figures (bench_billing), the report
# window's memory with a tariff table of 10,000 rates loaded
# (bench_report_window), and tallyphon-report writing the bill CSV against
# the same program writing the subscriber lines alone, in one run.
# Usage: scripts/bench_billing.sh [FILE] [LINES]
#   FILE  call-log file, generated when absent (default /tmp/tallyphon_calllog_1m.txt)
#   LINES lines to generate (default 1000000)
# BUILD_DIR selects the build directory (default build).
set -euo pipefail
cd "$(dirname "$0")/.."
FILE=${1:-/tmp/tallyphon_calllog_1m.txt}
LINES=${2:-1000000}
BUILD_DIR=${BUILD_DIR:-build}
export QT_QPA_PLATFORM=offscreen

[[ -f $BUILD_DIR/CMakeCache.txt ]] ||
    cmake -S . -B "$BUILD_DIR" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$BUILD_DIR" --target bench_billing bench_report_window tallyphon-report \
    gen_calllog -j2 >/dev/null
if [[ ! -f $FILE ]]; then
    echo "generating $LINES lines into $FILE" >&2
    "$BUILD_DIR/tools/gen_calllog/gen_calllog" "$LINES" "$FILE"
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cat "$FILE" >/dev/null

echo "file=$FILE"
echo "file_mb=$(awk -v b="$(stat -c %s "$FILE")" 'BEGIN { printf "%.1f", b / 1048576 }')"
"$BUILD_DIR/bench/bench_billing/bench_billing" "$FILE" "$work/tariffs.csv" |
    grep -E '^(tariff_rows|rate_s|bill_s|pdf_s|peak_rss_mb)='
"$BUILD_DIR/bench/bench_report_window/bench_report_window" "$FILE" "$work/calls.txt" \
    "$work/tariffs.csv" | grep -E '^(tariffs_s|peak_rss_mb)=' | sed 's/^/window_/'

# The report program, three runs of each, taken in turns.
now() { date +%s.%N; }
report=$BUILD_DIR/app/tallyphon-report
lines=() bills=()
for _ in 1 2 3; do
    t0=$(now)
    "$report" "$FILE" --lines "$work/lines.txt" >/dev/null
    t1=$(now)
    "$report" "$FILE" --tariffs "$work/tariffs.csv" --bill-csv "$work/bill.csv" >/dev/null
    t2=$(now)
    lines+=("$(echo "$t1 - $t0" | bc)") bills+=("$(echo "$t2 - $t1" | bc)")
done
median() { printf '%s\n' "$@" | sort -g | sed -n 2p; }
minimum() { printf '%s\n' "$@" | sort -g | head -1; }
echo "report_lines_s=$(minimum "${lines[@]}")/$(median "${lines[@]}")"
echo "report_bill_csv_s=$(minimum "${bills[@]}")/$(median "${bills[@]}")"
echo "bill_csv_to_lines=$(echo "scale=3; $(median "${bills[@]}") / $(median "${lines[@]}")" | bc)"

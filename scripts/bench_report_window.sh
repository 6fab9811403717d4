#!/usr/bin/env bash
# Report window benchmark: bench_report_window on the offscreen platform, and
# beside it awk writing the same fixed-column call export from the same file.
# Usage: scripts/bench_report_window.sh [FILE] [LINES]
#   FILE  call-log file, generated when absent (default /tmp/tallyphon_calllog_1m.txt)
#   LINES lines to generate (default 1000000)
# BUILD_DIR selects the build directory (default build).
set -euo pipefail
cd "$(dirname "$0")/.."
FILE=${1:-/tmp/tallyphon_calllog_1m.txt}
LINES=${2:-1000000}
BUILD_DIR=${BUILD_DIR:-build}
OUT=$(mktemp -d)
trap 'rm -rf "$OUT"' EXIT

if [[ ! -x $BUILD_DIR/bench/bench_report_window/bench_report_window || ! -x $BUILD_DIR/tools/gen_calllog/gen_calllog ]]; then
    [[ -f $BUILD_DIR/CMakeCache.txt ]] ||
        cmake -S . -B "$BUILD_DIR" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
    cmake --build "$BUILD_DIR" --target bench_report_window gen_calllog -j2 >/dev/null
fi
if [[ ! -f $FILE ]]; then
    echo "generating $LINES lines into $FILE" >&2
    "$BUILD_DIR/tools/gen_calllog/gen_calllog" "$LINES" "$FILE"
fi

now() { date +%s.%N; }

echo "file=$FILE"
echo "file_mb=$(awk -v b="$(stat -c %s "$FILE")" 'BEGIN { printf "%.1f", b / 1048576 }')"
cat "$FILE" >/dev/null  # both runs find the file in the page cache

QT_QPA_PLATFORM=offscreen "$BUILD_DIR/bench/bench_report_window/bench_report_window" \
    "$FILE" "$OUT/window.txt" 2> >(grep -v XDG_RUNTIME_DIR >&2)

# The call export in awk by the same rules: the loader's columns, then the
# export's fixed positions (a field inserted at its position, shifting the
# rest). The date is written dd.mm.yyyy, as the window writes it under a
# Russian locale (LANG=ru_RU.UTF-8 makes the two files equal).
t0=$(now)
{
printf '        Начало         Длит.    Апп.  Прг.   СЛ     Набранный номер\r\n' | iconv -f UTF-8 -t CP1251
LC_ALL=C awk 'BEGIN { RS = "\r\n"; ORS = "\r\n" }
function ins(line, t, p) {
    return length(line) < p - 1 ? line t : substr(line, 1, p - 1) t substr(line, p)
}
length($0) >= 47 && substr($0, 1, 1) != " " {
    rest = substr($0, 34)
    op = index(rest, "("); cl = index(rest, ")")
    hw = substr(rest, 1, op - 1)
    prg = substr(rest, op + 1, cl - op - 1); gsub(/ /, "", prg)
    tail = substr(rest, cl + 1); sub(/^ +/, "", tail)
    blank = index(tail, " ")
    trunk = blank ? substr(tail, 1, blank - 1) : tail
    dial = blank ? substr(tail, blank + 1) : ""; gsub(/ /, "", dial)
    line = substr($0, 1, 2) "." substr($0, 4, 2) "." substr($0, 7, 4) "  " \
        substr($0, 12, 2) ":" substr($0, 15, 2) ":" substr($0, 18, 2) "  " \
        substr($0, 23, 2) ":" substr($0, 26, 2) ":" substr($0, 29, 2) "                        "
    print ins(ins(ins(ins(line, hw, 33), prg, 39), trunk, 46), dial, 53)
}' "$FILE"
} >"$OUT/awk.txt"
t1=$(now)
echo "awk_export_s=$(awk -v a="$t0" -v b="$t1" 'BEGIN { printf "%.3f", b - a }')"
echo "export_lines=$(wc -l <"$OUT/window.txt")"
echo "awk_export_lines=$(wc -l <"$OUT/awk.txt")"
cmp -s "$OUT/window.txt" "$OUT/awk.txt" && echo "same_bytes=yes" || echo "same_bytes=no"

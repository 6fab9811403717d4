#!/usr/bin/env bash
# Builds the libFuzzer harnesses with clang into build-fuzz/ and fuzzes each
# one for SECONDS (default 60), starting from its seed corpus in
# tests/fuzz/corpus/. Prints the inputs run and the crashes found per
# harness, and exits non-zero when any harness crashed (or failed to run).
# Inputs that found new coverage go to build-fuzz/corpus/<harness>/, crashing
# inputs to build-fuzz/artifacts/<harness>/ with the log beside them.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds="${1:-60}"
harnesses=(decode_record link calllog settings cp1251 tariffs)

bash scripts/setup.sh
cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_CXX_COMPILER=clang++-14 -DTALLYPHON_FUZZ=ON >/dev/null
cmake --build build-fuzz -j2

failed=0
for h in "${harnesses[@]}"; do
    work="build-fuzz/corpus/$h"
    artifacts="build-fuzz/artifacts/$h"
    log="$artifacts/fuzz.log"
    mkdir -p "$work" "$artifacts"
    rc=0
    # One input taking over 10 s counts as a hang: every wait of the
    # protocol is on a test clock, so nothing should ever take that long.
    "build-fuzz/tests/fuzz/fuzz_$h" -max_total_time="$seconds" -timeout=10 \
        -print_final_stats=1 -artifact_prefix="$artifacts/" \
        "$work" "tests/fuzz/corpus/$h" >"$log" 2>&1 || rc=$?
    runs="$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)"
    crashes="$(grep -c 'Test unit written to' "$log" || true)"
    echo "fuzz_$h: runs ${runs:-?} crashes $crashes"
    if [ "$rc" -ne 0 ] || [ "$crashes" -ne 0 ]; then
        failed=1
        echo "fuzz_$h: exit status $rc; see $log"
        grep -E '^(==[0-9]+==ERROR|SUMMARY|property does not hold)' "$log" || true
    fi
done
exit "$failed"

#!/usr/bin/env bash
# Runs the program's main job against the simulated exchange: installs what
# is missing, builds, starts the simulated exchange with an office day of
# calls (and a new call beginning every 5 seconds, shown by the real-time
# monitor while it lasts) linked as demo/COM1, prepares the start-up
# directory demo/ and starts Tallyphon in it. With a display the
# window opens; without one it runs on the offscreen platform. Ctrl+C stops
# both.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

bash scripts/setup.sh
# Only what runs here: the program and the simulated exchange, not the tests
# (a first run on a fresh machine stays a matter of minutes).
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j2 --target tallyphon sim_exchange_program

demo="$root/demo"
sim="$root/build/tools/sim_exchange/sim_exchange"
app="$root/build/app/tallyphon"
mkdir -p "$demo"
rm -f "$demo/COM1"

sim_pid=""
app_pid=""
cleanup() {
    trap - EXIT INT TERM
    [ -n "$app_pid" ] && kill "$app_pid" 2>/dev/null || true
    [ -n "$sim_pid" ] && kill "$sim_pid" 2>/dev/null || true
    wait 2>/dev/null || true
    rm -f "$demo/COM1"
}
trap cleanup EXIT
trap 'echo; echo "run: stopping"; exit 130' INT TERM

# Ticks of 2 seconds: the clock's time of day fits the exchange's 16-bit
# tick count up to midnight.
"$sim" --link "$demo/COM1" --calls 200 --arrive-every 5 --tick 2 >"$demo/sim_exchange.log" 2>&1 &
sim_pid=$!
for _ in $(seq 100); do
    [ -e "$demo/COM1" ] && break
    if ! kill -0 "$sim_pid" 2>/dev/null; then
        echo "run: the simulated exchange did not start:" >&2
        cat "$demo/sim_exchange.log" >&2
        exit 1
    fi
    sleep 0.1
done
[ -e "$demo/COM1" ] || { echo "run: no link demo/COM1" >&2; exit 1; }

# "Tallyphon.cfg": port COM1, title lines on, standard layout, 27 zero bytes.
{ printf '\001\001\000'; head -c 27 /dev/zero; } >"$demo/Tallyphon.cfg"

# With a display the window opens and reads continuously, so calls appear as
# the simulated exchange produces them. Without one the program reads the
# whole buffer once, closes itself, and the call-log file is printed.
rm -f "$demo/calls.txt"
auto="AUTOSTART_UNINTERRUPT"
headless=""
if [ -z "${DISPLAY:-}" ]; then
    export QT_QPA_PLATFORM=offscreen
    auto="AUTOSTART_1"
    headless=1
fi
printf 'TARIF_FNAME=%s\r\nREALTIME_FNAME=%s\r\nAUTO=%s' "$demo/calls.txt" \
    "$demo/real_time.log" "$auto" \
    >"$demo/TallyphonOut.cfg"

(cd "$demo" && exec "$app") &
app_pid=$!
if [ -n "$headless" ]; then
    echo "run: Tallyphon reads the simulated exchange on demo/COM1 without a display"
    echo "run: (pid $app_pid) and closes itself when done; Ctrl+C stops it."
else
    echo "run: Tallyphon is open and reads the simulated exchange on demo/COM1"
    echo "run: continuously; a new call begins every 5 seconds. To watch the calls in"
    echo "run: progress, press Stop, then АТС -> Отслеживание соединений в режиме"
    echo "run: реального времени. Ctrl+C stops it."
fi
status=0
wait "$app_pid" || status=$?
app_pid=""
if [ -n "$headless" ] && [ -f "$demo/calls.txt" ]; then
    echo "run: the call-log file demo/calls.txt ($(wc -l <"$demo/calls.txt") lines):"
    iconv -f CP1251 -t UTF-8 "$demo/calls.txt" | tr -d '\r'
fi
exit "$status"

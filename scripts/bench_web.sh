#!/usr/bin/env bash
# Web benchmark: tallyphon-web over the data of scripts/bench_sites.sh (ten
# offices of the call-log file's calls each, shipped into a throw-away
# cluster that syncs its writes as a real server does), loaded by wrk with
# one admin's session. Prints name=value figures:
#   offices_req_per_s, offices_p99_ms  "/" (the offices page), wrk -c 50 -d 10s
#   calls_p99_ms   "/calls?site=office-01&…" of the file's first month, the same
#                  way (when the server has that page)
#   bill_s         one /bill.csv of that month and office (when it has that page)
#   web_rss_mb     the server's peak resident memory (VmHWM) after all that
# Usage: scripts/bench_web.sh [FILE] [LINES]
#   FILE  call-log file, generated when absent (default
#         /tmp/tallyphon_calllog_1m.txt, or /tmp/tallyphon_calllog_LINES.txt)
#   LINES lines to generate (default BENCH_LINES, else 1000000); for a quick
#         try: BENCH_LINES=20000 scripts/bench_web.sh
# BUILD_DIR selects the build directory (default build); WRK_SECONDS the
# length of each wrk run (default 10).
set -euo pipefail
cd "$(dirname "$0")/.."
LINES=${2:-${BENCH_LINES:-1000000}}
if [[ $LINES == 1000000 ]]; then default=/tmp/tallyphon_calllog_1m.txt; else
    default=/tmp/tallyphon_calllog_$LINES.txt; fi
FILE=${1:-$default}
BUILD_DIR=${BUILD_DIR:-build}
SECONDS_EACH=${WRK_SECONDS:-10}
for tool in wrk curl psql; do
    command -v $tool >/dev/null || { echo "bench_web: $tool is missing (scripts/setup.sh)" >&2; exit 1; }
done

[[ -f $BUILD_DIR/CMakeCache.txt ]] ||
    cmake -S . -B "$BUILD_DIR" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$BUILD_DIR" --target bench_sites gen_calllog tallyphon-web pg_cluster_run -j2 >/dev/null
if [[ ! -f $FILE ]]; then
    echo "generating $LINES lines into $FILE" >&2
    "$BUILD_DIR/tools/gen_calllog/gen_calllog" "$LINES" "$FILE"
fi
WEB=$BUILD_DIR/web/tallyphon-web
work=$(mktemp -d /tmp/bench_web_XXXXXX)
web_pid=""

# The cluster lives while its standard input, this shell's coprocess pipe,
# stays open.
coproc CLUSTER { exec "$BUILD_DIR/tools/pg_cluster/pg_cluster_run" --durable; }
cluster_pid=$CLUSTER_PID
cluster_in=${CLUSTER[1]}
stop() {
    [[ -n $web_pid ]] && kill "$web_pid" 2>/dev/null && wait "$web_pid" 2>/dev/null
    exec {cluster_in}>&-
    wait "$cluster_pid" 2>/dev/null || true
    rm -rf "$work"
}
trap stop EXIT
read -r socket_dir <&"${CLUSTER[0]}"
[[ -n $socket_dir ]] || { echo "bench_web: the cluster did not start" >&2; exit 1; }
owner="host=$socket_dir user=tallyphon dbname=postgres"
reader="host=$socket_dir user=web_reader dbname=postgres"

echo "file=$FILE"
echo "shipping the calls of ten offices (bench_sites)" >&2
"$BUILD_DIR/bench/bench_sites/bench_sites" "$FILE" "$owner" >&2
# Every office gets a tariff file, as the pages' costs and the bill need.
psql -X -q -v ON_ERROR_STOP=1 "$owner" -c "CREATE ROLE web_reader LOGIN;
    GRANT tallyphon_web TO web_reader;
    INSERT INTO tallyphon.office_files (site, kind, file_name, content, uploaded_by)
    SELECT site, 'tariffs', 'tariffs.csv', convert_to(
        E'8;Межгород;5,50;;60;60;\\n810;Межнар;25,00;;60;60;\\n*;Город;1,00;0,10;60;60;5\\n',
        'UTF8'), 'bench'
    FROM tallyphon.sites" >/dev/null
password=bench-password
echo "$password" | "$WEB" --db "$owner" --add-user bench --role admin >/dev/null

"$WEB" --db "$reader" --listen 127.0.0.1:0 2>"$work/journal" &
web_pid=$!
port=""
for _ in $(seq 300); do
    port=$(sed -n 's/.*, порт \([0-9]*\);.*/\1/p' "$work/journal")
    [[ -n $port ]] && break
    kill -0 "$web_pid" 2>/dev/null || break
    sleep 0.1
done
[[ -n $port ]] || { echo "bench_web: tallyphon-web did not start:" >&2; cat "$work/journal" >&2; exit 1; }
base=http://127.0.0.1:$port
session=$(curl -s -D - -o /dev/null --data "name=bench&password=$password" "$base/login" |
    sed -n 's/^Set-Cookie: tp_session=\([0-9a-f]*\);.*/\1/ip')
[[ -n $session ]] || { echo "bench_web: the login failed" >&2; exit 1; }
cookie="Cookie: tp_session=$session"

# The status of a GET of path with the session; while the connections of
# a wrk run just ended still count against the address's limit, the
# server refuses new ones (000), which is waited out for up to 10 s.
status() {
    local code
    for _ in $(seq 100); do
        code=$(curl -s -o /dev/null -w '%{http_code}' -H "$cookie" "$base$1" || true)
        [[ $code != 000 ]] && break
        sleep 0.1
    done
    echo "$code"
}

cat >"$work/report.lua" <<'EOF'
done = function(summary, latency, requests)
    io.write(string.format("req_per_s=%.1f\n", summary.requests / summary.duration * 1e6))
    io.write(string.format("p99_ms=%.2f\n", latency:percentile(99) / 1000))
    io.write(string.format("errors=%d\n", summary.errors.status + summary.errors.connect +
        summary.errors.read + summary.errors.write + summary.errors.timeout))
end
EOF
# Loads path with 50 connections; prints NAME_req_per_s (when asked) and
# NAME_p99_ms. Every answer must be the page itself: a session lost on the
# way would be timed as quick redirects.
load() {
    local name=$1 path=$2 rate=$3
    [[ $(status "$path") == 200 ]] || { echo "bench_web: $path does not answer 200" >&2; exit 1; }
    wrk -t 2 -c 50 -d "${SECONDS_EACH}s" --timeout 30s -H "$cookie" -s "$work/report.lua" \
        "$base$path" >"$work/wrk.out"
    local errors after
    errors=$(sed -n 's/^errors=//p' "$work/wrk.out")
    after=$(status "$path")
    [[ $errors == 0 && $after == 200 ]] || {
        echo "bench_web: $path failed under load (then answered $after):" >&2
        cat "$work/wrk.out" "$work/journal" >&2
        exit 1
    }
    [[ $rate == yes ]] && sed -n "s/^req_per_s=/${name}_req_per_s=/p" "$work/wrk.out"
    sed -n "s/^p99_ms=/${name}_p99_ms=/p" "$work/wrk.out"
}

load offices / yes

read -r from to < <(psql -X -A -t -F ' ' "$owner" -c "SELECT to_char(m, 'YYYY-MM-DD'),
    to_char(m + interval '1 month' - interval '1 day', 'YYYY-MM-DD') FROM (SELECT
    date_trunc('month', min(start)) m FROM tallyphon.calls WHERE site = 'office-01') x")
period="site=office-01&from=$from&to=$to"
if [[ $(status "/calls?$period") == 404 ]]; then
    echo "bench_web: no /calls page in this build: calls_p99_ms left out" >&2
else
    load calls "/calls?$period" no
fi
bill=$(curl -s -o "$work/bill.csv" -w '%{http_code} %{time_total}' -H "$cookie" "$base/bill.csv?$period")
case ${bill% *} in
    200) echo "bill_s=${bill#* }" ;;
    404) echo "bench_web: no /bill.csv page in this build: bill_s left out" >&2 ;;
    *) echo "bench_web: /bill.csv answered ${bill% *}" >&2; exit 1 ;;
esac
awk '/^VmHWM:/ { printf "web_rss_mb=%.1f\n", $2 / 1024 }' "/proc/$web_pid/status"

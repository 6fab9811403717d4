#!/usr/bin/env bash
# Installs the build tree into a scratch root and checks what lands there:
# the file list, the programs, the desktop entry and metainfo (validated as
# a desktop would read them), the service unit and the logrotate example.
# usage: install_test.sh BUILD_DIR REPORT_BUILT(0|1)
set -euo pipefail
build=$1
report=$2
here=$(cd "$(dirname "$0")" && pwd)
. "$here/expected.sh"
stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT

DESTDIR="$stage" cmake --install "$build" --prefix /usr >/dev/null
cd "$stage/usr"
if ! diff <(expected_files "$report") <(find . -type f -o -type l | sed 's#^\./##' | LC_ALL=C sort); then
    echo "install tree differs from the expected list (< expected, > installed)" >&2
    exit 1
fi
[ "$(bin/tallyphon --version)" = "tallyphon 2.28" ]
[ "$(bin/tallyphon-sim --help | head -1)" = "Использование: tallyphon-sim [параметры]" ]

desktop=$(desktop-file-validate share/applications/tallyphon.desktop)
if grep 'more than one main category' <<<"$desktop"; then exit 1; fi
appstreamcli validate --no-net share/metainfo/org.tallyphon.Tallyphon.metainfo.xml
for program in bin/*; do
    grep -q "<binary>${program#bin/}</binary>" share/metainfo/org.tallyphon.Tallyphon.metainfo.xml
done
# Each page names exactly the options its program's --help names, under a
# synopsis and a Russian name line.
pages="tallyphon tallyphon-sim tallyphon-web"
if [ "$report" = 1 ]; then
    pages="$pages tallyphon-report"
    grep -q '^Использование: tallyphon-report' <<<"$(bin/tallyphon-report -h)"
fi
for page in $pages; do
    man=$(zcat "share/man/man1/$page.1.gz")
    diff <(bin/$page --help | grep -o -- '--[a-z0-9-]*' | LC_ALL=C sort -u) \
         <(sed 's/\\-/-/g' <<<"$man" | grep -o -- '--[a-z0-9-]*' | LC_ALL=C sort -u)
    grep -q '^\.SH SYNOPSIS' <<<"$man"
    grep -A1 '^\.SH NAME' <<<"$man" | sed 's/\\-/-/g' | LC_ALL=C grep -q "^$page - [^ -~]"
done

grep -qx 'ExecStart=/usr/bin/tallyphon --headless --dir /var/lib/tallyphon' \
    lib/systemd/system/tallyphon.service
grep -qx 'ExecStart=/usr/bin/tallyphon-web' lib/systemd/system/tallyphon-web.service
grep -qx 'RestrictAddressFamilies=AF_INET AF_INET6 AF_UNIX' lib/systemd/system/tallyphon-web.service
# Each unit's sandbox, as systemd scores it: OK is 4.5 or less; the web
# server, which needs no serial port, stays within 2.0.
for limit in tallyphon:4.5 tallyphon-web:2.0; do
    name=${limit%%:*}.service
    # systemd checks that the program exists: the staged one stands in.
    sed "s#^ExecStart=/usr/bin/#ExecStart=$stage/usr/bin/#" "lib/systemd/system/$name" >"$stage/$name"
    systemd-analyze verify --man=no "$stage/$name"
    exposure=$(systemd-analyze security --offline=yes "$stage/$name" 2>&1 |
        sed -n 's/.*Overall exposure level for [^:]*: \([0-9.]*\).*/\1/p')
    if [ -z "$exposure" ] || ! awk -v e="$exposure" -v l="${limit#*:}" 'BEGIN { exit !(e <= l) }'; then
        echo "$name exposure ${exposure:-unknown}, more than ${limit#*:}" >&2
        exit 1
    fi
    exposures="${exposures:-}$name $exposure "
done
# The logrotate example, made to rotate a scratch file of this user's.
rotate=$stage/rotate
mkdir "$rotate" && echo call >"$rotate/calls.txt"
sed -e "s#/var/lib/tallyphon/calls.txt#$rotate/calls.txt#" \
    -e "s/ tallyphon tallyphon$/ $(id -un) $(id -gn)/" \
    share/doc/tallyphon/examples/tallyphon.logrotate >"$rotate/conf"
PATH=$PATH:/usr/sbin logrotate -d -f -s "$rotate/state" "$rotate/conf" >"$rotate/log" 2>&1 ||
    { cat "$rotate/log" >&2; exit 1; }
grep -q "renaming $rotate/calls.txt to $rotate/calls.txt-[0-9]*-[0-9]*$" "$rotate/log"
grep -q "creating new $rotate/calls.txt mode = 0640" "$rotate/log"
echo "install tree: $(find . -type f | wc -l) files, exposure ${exposures% }, all checks passed"

#!/usr/bin/env bash
# Installs the build tree into a scratch root and checks what lands there:
# the file list, the programs, the desktop entry and metainfo (validated as
# a desktop would read them) and the service unit.
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
bin/tallyphon-sim --help | grep -q -- '--link PATH'

desktop-file-validate share/applications/tallyphon.desktop
appstreamcli validate --no-net share/metainfo/org.tallyphon.Tallyphon.metainfo.xml

unit=lib/systemd/system/tallyphon.service
grep -qx 'ExecStart=/usr/bin/tallyphon --headless --dir /var/lib/tallyphon' "$unit"
# systemd checks that the program exists: the staged one stands in.
sed "s#^ExecStart=/usr/bin/#ExecStart=$stage/usr/bin/#" "$unit" >"$stage/tallyphon.service"
systemd-analyze verify --man=no "$stage/tallyphon.service"
# The unit's sandbox, as systemd scores it: OK is 4.5 or less.
exposure=$(systemd-analyze security --offline=yes "$stage/tallyphon.service" 2>&1 |
    sed -n 's/.*Overall exposure level for [^:]*: \([0-9.]*\).*/\1/p')
if [ -z "$exposure" ] || ! awk -v e="$exposure" 'BEGIN { exit !(e <= 4.5) }'; then
    echo "service exposure ${exposure:-unknown}, more than 4.5" >&2
    exit 1
fi
echo "install tree: $(find . -type f | wc -l) files, service exposure $exposure, all checks passed"

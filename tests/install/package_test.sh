#!/usr/bin/env bash
# Builds the Debian package from the build tree and checks it: its files,
# its dependencies (found by dpkg-shlibdeps), its maintainer script, and
# lintian's verdict (no error).
# usage: package_test.sh BUILD_DIR REPORT_BUILT(0|1)
set -euo pipefail
build=$1
report=$2
here=$(cd "$(dirname "$0")" && pwd)
. "$here/expected.sh"
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT

if ! cpack -G DEB -B "$out" --config "$build/CPackConfig.cmake" >"$out/cpack.log" 2>&1; then
    cat "$out/cpack.log" >&2
    exit 1
fi
deb=$(echo "$out"/tallyphon_2.28_*.deb)
[ -f "$deb" ]

if ! diff <(expected_files "$report" | sed 's#^#/usr/#') \
        <(dpkg-deb --fsys-tarfile "$deb" | tar -t | sed 's#^\./#/#' | grep -v '/$' | LC_ALL=C sort); then
    echo "package contents differ from the expected list (< expected, > packaged)" >&2
    exit 1
fi
depends=$(dpkg-deb -f "$deb" Depends)
for need in adduser libqt6widgets6 libc6; do
    if ! grep -q "\b$need\b" <<<"$depends"; then
        echo "Depends lacks $need: $depends" >&2
        exit 1
    fi
done
dpkg-deb -I "$deb" postinst | grep -q 'adduser --quiet tallyphon dialout'

lintian --fail-on error "$deb"
echo "package: $(basename "$deb"), lintian found no error"

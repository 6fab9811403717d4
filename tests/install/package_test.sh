#!/usr/bin/env bash
# Builds the Debian package from the build tree and checks it: its files,
# its dependencies (found by dpkg-shlibdeps), its maintainer scripts, and
# lintian's verdict (no error, no warning, no missing hardening).
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
for need in adduser libqt6widgets6 libc6 libmicrohttpd12 libsodium23 libjs-chart.js; do
    if ! grep -q "\b$need\b" <<<"$depends"; then
        echo "Depends lacks $need: $depends" >&2
        exit 1
    fi
done
dpkg-deb -e "$deb" "$out/control"
grep -q 'adduser --quiet tallyphon dialout' "$out/control/postinst"
# The service's life cycle, as dh_installsystemd would write it.
grep -q "deb-systemd-invoke try-restart 'tallyphon.service' 'tallyphon-web.service'" "$out/control/postinst"
grep -q "deb-systemd-invoke stop 'tallyphon.service' 'tallyphon-web.service'" "$out/control/prerm"
grep -q "deb-systemd-helper purge 'tallyphon.service' 'tallyphon-web.service'" "$out/control/postrm"
# The web server's own user and a settings file that only it and root
# read, never written over.
grep -q -- '--gecos "Tallyphon web server" tallyphon-web$' "$out/control/postinst"
grep -q 'if \[ ! -e /etc/tallyphon/web.cfg \]' "$out/control/postinst"
grep -q 'chown root:tallyphon-web /etc/tallyphon/web.cfg' "$out/control/postinst"
grep -q 'chmod 0640 /etc/tallyphon/web.cfg' "$out/control/postinst"
grep -q '^#CONNINFO=' "$out/control/postinst"
if grep -v '^ *#' "$out/control/postrm" | grep -E 'deluser|rm .*/var/lib/tallyphon'; then
    echo "postrm deletes the call logs or their user" >&2
    exit 1
fi

tags=$(lintian -I --fail-on error,warning "$deb") || { echo "$tags" >&2; exit 1; }
# The programs are built with Debian's hardening flags.
if grep -E 'hardening-no-(bindnow|fortify-functions|relro)' <<<"$tags"; then
    echo "the programs lack Debian's hardening" >&2
    exit 1
fi
echo "package: $(basename "$deb"), lintian found no error or warning"

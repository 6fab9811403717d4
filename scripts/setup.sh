#!/usr/bin/env bash
# Installs, from Debian's own packages, whatever the build and the tests need
# and is not yet installed. Does nothing when everything is there.
set -euo pipefail

packages=(
    g++ cmake ninja-build ccache pkg-config
    qt6-base-dev qt6-charts-dev libqt6opengl6-dev libgl-dev libboost-dev
    libgtest-dev googletest libbenchmark-dev
    xvfb xauth fonts-dejavu-core
    clang-14 libclang-rt-14-dev
    desktop-file-utils appstream systemd dpkg-dev file lintian logrotate help2man
    qt6-serialport-dev qt6-translations-l10n
    libxlsxwriter-dev unzip locales poppler-utils
    postgresql libpqxx-dev zlib1g-dev dbus-daemon
    libmicrohttpd-dev libsodium-dev libcurl4-openssl-dev openssl libjs-chart.js
    chromium chromium-driver python3-selenium wrk
    msmtp python3-aiosmtpd
)

missing=()
for p in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
        missing+=("$p")
    fi
done

SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi

if [ ${#missing[@]} -ne 0 ]; then
    echo "setup: installing ${missing[*]}"
    export DEBIAN_FRONTEND=noninteractive
    $SUDO apt-get update -qq
    $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

# Some tests run under the Russian locale the program's users have.
if ! locale -a 2>/dev/null | grep -qix 'ru_RU\.utf-\?8'; then
    echo "setup: making the ru_RU.UTF-8 locale"
    $SUDO localedef -i ru_RU -f UTF-8 ru_RU.UTF-8
fi

#!/bin/sh
# Installs the Debian 12 packages needed to build and test Wakebell setup,
# but only when some are missing. Non-interactive: safe for CI.
set -eu

PACKAGES="
    g++ cmake ninja-build make pkg-config
    libssl-dev openssl
    libc-ares-dev dnsmasq-base
    libsqlite3-dev sqlite3
    libgtest-dev libgmock-dev libbenchmark-dev
    clang libclang-rt-14-dev clang-format clang-tidy
    python3 python3-aiosmtpd
    libsasl2-dev libsasl2-modules sasl2-bin
    strace curl
    qt6-base-dev qt6-base-dev-tools libqt6opengl6-dev libgl-dev
    fonts-ipafont-gothic
    xvfb xauth x11-utils xdotool imagemagick desktop-file-utils
    dpkg-dev file
    scdoc gzip man-db lintian appstream
"

missing=""
for pkg in $PACKAGES; do
    status=$(dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null || true)
    case "$status" in
        "install ok installed") ;;
        *) missing="$missing $pkg" ;;
    esac
done

if [ -z "$missing" ]; then
    echo "install-deps: all packages present"
    exit 0
fi

echo "install-deps: installing:$missing"
SUDO=""
if [ "$(id -u)" -ne 0 ]; then
    SUDO="sudo"
fi
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -q
# shellcheck disable=SC2086
$SUDO apt-get install -y -q --no-install-recommends $missing

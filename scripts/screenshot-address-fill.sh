#!/bin/sh
# Shows the setup form on a virtual X server, types an address at a provider
# of the shipped table into E-Mail, leaves the field with Tab and writes a
# screenshot of the filled form, with the line that says where the values
# came from, to docs/address-fill.png. A table hit asks no DNS server, so
# nothing leaves the machine.
#   scripts/screenshot-address-fill.sh [BUILD_DIR [OUTPUT_PNG] [ADDRESS]]
#   (defaults: build, docs/address-fill.png, taro@gmail.com)
# Needs xvfb, xdotool, x11-utils and imagemagick (scripts/install-deps.sh).
set -eu
cd "$(dirname "$0")/.."
build=${1:-build}
out=${2:-docs/address-fill.png}
address=${3:-taro@gmail.com}
program=$build/setup/wakebell-setup
if [ ! -x "$program" ]; then
    echo "screenshot-address-fill: $program is missing; build it first (make build)" >&2
    exit 1
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$(dirname "$out")"

# An empty settings store: the form opens with its first-start defaults.
XDG_CONFIG_HOME=$work/config QT_QPA_PLATFORM=xcb \
    xvfb-run --auto-servernum --server-args="-screen 0 1024x768x24 -nolisten tcp" \
    sh -eu -c '
        program=$1 shot=$2 address=$3
        import=/usr/bin/import
        "$program" &
        pid=$!
        trap "kill $pid 2>/dev/null || true" EXIT
        # Wait (bounded) for the window, then give it the focus, as a click
        # would without a window manager.
        tries=0
        until id=$(xdotool search --onlyvisible --name "^WakebellSetup$" 2>/dev/null | head -n 1) &&
              [ -n "$id" ]; do
            tries=$((tries + 1))
            if [ $tries -gt 200 ]; then
                echo "screenshot-address-fill: the form did not appear" >&2
                exit 1
            fi
            sleep 0.1
        done
        xdotool windowfocus --sync "$id"
        xdotool type --delay 20 "$address"
        xdotool key Tab
        # Bounded wait until SMTP-Server (the fill) has been painted: the
        # window changes no more between two captures.
        tries=0
        "$import" -window "$id" "png:$shot.before"
        while :; do
            sleep 0.2
            "$import" -window "$id" "png:$shot"
            if cmp -s "$shot" "$shot.before"; then
                break
            fi
            mv "$shot" "$shot.before"
            tries=$((tries + 1))
            if [ $tries -gt 50 ]; then
                echo "screenshot-address-fill: the form did not settle" >&2
                exit 1
            fi
        done
    ' screenshot "$program" "$work/shot.png" "$address"
/usr/bin/convert "$work/shot.png" -bordercolor gray60 -border 1 -strip "$out"
echo "screenshot-address-fill: wrote $out"

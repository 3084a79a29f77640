#!/bin/sh
# Shows the setup form on a virtual X server, as on a first start, and writes
# a screenshot of its window to docs/setup-form.png.
#   scripts/screenshot-form.sh [BUILD_DIR [OUTPUT_PNG]]    (default: build)
# Needs xvfb, xauth, x11-utils and imagemagick (scripts/install-deps.sh).
set -eu
cd "$(dirname "$0")/.."
build=${1:-build}
out=${2:-docs/setup-form.png}
program=$build/setup/wakebell-setup
if [ ! -x "$program" ]; then
    echo "screenshot-form: $program is missing; build it first (make build)" >&2
    exit 1
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$(dirname "$out")"

# An empty settings store: the form opens with its first-start defaults.
XDG_CONFIG_HOME=$work/config QT_QPA_PLATFORM=xcb \
    xvfb-run --auto-servernum --server-args="-screen 0 1024x768x24 -nolisten tcp" \
    sh -eu -c '
        program=$1 shot=$2
        # ImageMagick by its own path: another "convert" may come first on PATH.
        import=/usr/bin/import convert=/usr/bin/convert
        "$program" &
        pid=$!
        trap "kill $pid 2>/dev/null || true" EXIT
        # Wait (bounded) for the window, then until it has been painted.
        tries=0
        while :; do
            id=$(xwininfo -root -tree | sed -n "s/^ *\(0x[0-9a-f]*\) \"WakebellSetup\".*/\1/p" | head -n 1)
            if [ -n "$id" ] && "$import" -window "$id" "png:$shot" 2>/dev/null &&
               [ "$("$convert" "$shot" -format %k info:)" -gt 16 ]; then
                break
            fi
            tries=$((tries + 1))
            if [ $tries -gt 200 ]; then
                echo "screenshot-form: the form did not appear" >&2
                exit 1
            fi
            sleep 0.1
        done
    ' screenshot "$program" "$work/shot.png"
/usr/bin/convert "$work/shot.png" -strip "$out"
echo "screenshot-form: wrote $out"

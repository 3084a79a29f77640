#!/bin/sh
# Fails when a lower layer includes a higher one. The layers, lowest first:
#   codec <- smtp        settings <- setup        (setup may use all of them)
# A library folder may include only itself and the folders it is allowed to.
set -eu
root=${1:-$(dirname "$0")/..}
status=0

check() {  # folder, forbidden folders...
    folder=$1
    shift
    [ -d "$root/$folder" ] || return 0
    for forbidden in "$@"; do
        hits=$(grep -rnE "^[[:space:]]*#[[:space:]]*include[[:space:]]*[<\"]$forbidden/" \
            "$root/$folder" --include='*.h' --include='*.cpp' || true)
        if [ -n "$hits" ]; then
            echo "layering: $folder/ must not include $forbidden/:"
            echo "$hits"
            status=1
        fi
    done
}

check codec smtp settings setup
check smtp settings setup
check settings smtp setup
exit $status

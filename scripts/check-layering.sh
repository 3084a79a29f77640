#!/bin/sh
# Fails when a lower layer includes a higher one. The layers, lowest first:
#   codec <- smtp        settings <- setup        (setup may use all of them)
# A library folder may include only itself and the folders it is allowed to.
# Only setup/ is a window-system layer: the others never include Qt headers,
# so that they build and test without it.
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

no_qt() {  # folder
    [ -d "$root/$1" ] || return 0
    hits=$(grep -rnE "^[[:space:]]*#[[:space:]]*include[[:space:]]*<Q[A-Za-z]" \
        "$root/$1" --include='*.h' --include='*.cpp' || true)
    if [ -n "$hits" ]; then
        echo "layering: $1/ must not include Qt headers:"
        echo "$hits"
        status=1
    fi
}

check codec smtp settings setup
check smtp settings setup
check settings smtp setup
for folder in codec smtp settings; do
    no_qt "$folder"
done
exit $status

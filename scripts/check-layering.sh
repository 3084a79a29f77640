#!/bin/sh
# Fails when a lower layer includes a higher one. The layers, lowest first:
#   codec <- smtp <- mailcheck <- setup        settings <- setup
#   codec <- smtp <- discovery <- setup
# (setup may use all of them). A library folder may include only itself and
# the folders below it. Only setup/ is a window-system layer: the others
# never include Qt headers, so that they build and test without it; the
# mail check in particular includes neither Qt nor settings/ nor setup/, and
# the server discovery neither Qt nor settings/, setup/ nor mailcheck/.
#
#   scripts/check-layering.sh [ROOT]   ROOT: the tree to check (default: this one)
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

# smtp/internal/ is the SMTP client's own: only smtp/'s sources and the tests
# of smtp/ may include it, and no header directly in smtp/ (those are the
# client's public face), so a change inside it recompiles nothing else.
private_smtp() {
    hits=$(grep -rnE "^[[:space:]]*#[[:space:]]*include[[:space:]]*[<\"]smtp/internal/" "$root" \
        --include='*.h' --include='*.cpp' --include='*.cc' \
        --exclude-dir=build --exclude-dir='build-*' --exclude-dir=.git |
        sed "s|^$root/||" | grep -vE '^(smtp/internal/|smtp/[^/]+\.cpp:|tests/smtp/)' || true)
    if [ -n "$hits" ]; then
        echo "layering: smtp/internal/ is private to smtp/ (tests/smtp/ aside):"
        echo "$hits"
        status=1
    fi
}

private_smtp
check codec smtp mailcheck discovery settings setup
check smtp mailcheck discovery settings setup
check mailcheck discovery settings setup
check discovery settings setup mailcheck
check settings smtp mailcheck discovery setup
for folder in codec smtp mailcheck discovery settings; do
    no_qt "$folder"
done
exit $status

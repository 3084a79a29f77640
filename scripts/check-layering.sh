#!/bin/sh
# Fails when a lower layer includes a higher one. The layers, lowest first:
#   codec <- smtp        settings <- setup        (setup may use all of them)
# A library folder may include only itself and the folders it is allowed to.
# Only setup/ is a window-system layer: the others never include Qt headers,
# so that they build and test without it. Inside setup/, the test mail
# (library wakebell_test_mail) sits below the form: its files include
# neither Qt nor settings/ nor any setup/ header outside the unit.
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

test_mail_unit="test_mail.h test_mail.cpp test_mail_content.h test_mail_content.cpp
    test_mail_exchange.h test_mail_exchange.cpp"

unit_only() {  # the test mail's files
    [ -d "$root/setup" ] || return 0
    own=$(echo $test_mail_unit | tr ' ' '\n' | grep '\.h$' | sed 's/\./\\./; s/^/setup\//' | paste -sd'|')
    for file in $test_mail_unit; do
        [ -f "$root/setup/$file" ] || continue
        hits=$(grep -nE "^[[:space:]]*#[[:space:]]*include[[:space:]]*(<Q[A-Za-z]|[<\"](settings|setup)/)" \
            "$root/setup/$file" | grep -vE "[<\"]($own)[>\"]" || true)
        if [ -n "$hits" ]; then
            echo "layering: setup/$file belongs to the test mail and must not include Qt, settings/ or the form:"
            echo "$hits"
            status=1
        fi
    done
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
check codec smtp settings setup
check smtp settings setup
check settings smtp setup
for folder in codec smtp settings; do
    no_qt "$folder"
done
unit_only
exit $status

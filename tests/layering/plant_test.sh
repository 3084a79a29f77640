#!/bin/sh
# Plants one forbidden include at a time in a small tree of the library
# folders and expects the layering check to refuse each, naming the rule,
# while the allowed includes of the same tree pass.
set -eu
check=$1
tree=$(mktemp -d)
trap 'rm -rf "$tree"' EXIT
failures=0
checks=0

fresh() {  # the allowed includes only
    rm -rf "$tree"/*
    for folder in codec smtp smtp/internal mailcheck discovery settings setup; do
        mkdir -p "$tree/$folder"
    done
    echo '#include "codec/base64.h"' >"$tree/smtp/smtp.cpp"
    echo '#include "smtp/internal/connection.h"' >>"$tree/smtp/smtp.cpp"
    echo '#include "smtp/smtp.h"' >"$tree/mailcheck/mail_check.h"
    echo '#include "smtp/smtp.h"' >"$tree/discovery/server_discovery.h"
    printf '#include <QDialog>\n#include "mailcheck/mail_check.h"\n#include "settings/store.h"\n#include "discovery/server_discovery.h"\n' \
        >"$tree/setup/setup_dlg.cpp"
}

expect() {  # file, included text, what the refusal names
    checks=$((checks + 1))
    fresh
    echo "#include $2" >>"$tree/$1"
    if out=$(sh "$check" "$tree" 2>&1); then
        echo "FAIL: $1 including $2 passed the check"
        failures=$((failures + 1))
    elif ! echo "$out" | grep -qF "$3"; then
        echo "FAIL: $1 including $2 was refused without \"$3\": $out"
        failures=$((failures + 1))
    fi
}

fresh
sh "$check" "$tree" || { echo "FAIL: the allowed includes were refused"; failures=$((failures + 1)); }
expect codec/hex.h '"smtp/smtp.h"' 'codec/ must not include smtp/'
expect smtp/smtp.h '"mailcheck/mail_check.h"' 'smtp/ must not include mailcheck/'
expect mailcheck/mail_check.h '"setup/failure_advice.h"' 'mailcheck/ must not include setup/'
expect mailcheck/mail_check.h '"settings/store.h"' 'mailcheck/ must not include settings/'
expect mailcheck/mail_check.h '<QString>' 'mailcheck/ must not include Qt headers'
expect discovery/probe.cpp '"mailcheck/mail_check.h"' 'discovery/ must not include mailcheck/'
expect discovery/probe.cpp '"settings/store.h"' 'discovery/ must not include settings/'
expect discovery/probe.cpp '"setup/setup_dlg.h"' 'discovery/ must not include setup/'
expect discovery/probe.cpp '<QDnsLookup>' 'discovery/ must not include Qt headers'
expect smtp/smtp.h '"discovery/server_discovery.h"' 'smtp/ must not include discovery/'
expect settings/store.h '"mailcheck/mail_check.h"' 'settings/ must not include mailcheck/'
expect smtp/smtp.h '"smtp/internal/connection.h"' 'smtp/internal/ is private'
expect setup/setup_dlg.cpp '"smtp/internal/connection.h"' 'smtp/internal/ is private'
echo "$((checks + 1 - failures)) passed, $failures failed"
[ "$failures" -eq 0 ]

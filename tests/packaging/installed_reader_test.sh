#!/bin/sh
# Builds the notifier's side as its developers do: installs the Development
# component into a fresh prefix, compiles a small reader with the compiler
# and nothing but pkg-config's flags, and runs it on a store that the form's
# writer filled. Fails with one line saying which step went wrong.
#
#   installed_reader_test.sh BUILD_DIR CXX STORE_WRITER
set -eu
build=$1 cxx=$2 writer=$3
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() {
    echo "installed_reader_test: $*" >&2
    exit 1
}

cmake --install "$build" --prefix "$work/prefix" --component Development >/dev/null ||
    fail "cmake --install of the Development component failed"
pc=$(find "$work/prefix" -name wakebell-settings.pc)
[ -n "$pc" ] || fail "no wakebell-settings.pc installed"
PKG_CONFIG_PATH=$(dirname "$pc")
export PKG_CONFIG_PATH
flags=$(${PKG_CONFIG:-pkg-config} --cflags --libs wakebell-settings) ||
    fail "pkg-config does not know wakebell-settings"
case "$flags" in
    *"-I$work/prefix/include/wakebell "*) ;;
    *) fail "pkg-config's flags do not name the installed prefix: $flags" ;;
esac

cat >"$work/reader.cpp" <<'READER'
#include <iostream>
#include "settings/notifier_reader.h"
#include "settings/store_files.h"
int main() {
    const NotifierSettings s = ReadNotifierSettings(RegistryStore(DefaultStorePath()));
    if (!s.usable) { std::cerr << s.problem << '\n'; return 1; }
    const SettingsRecord& r = s.record;
    std::cout << r.szTo << '|' << r.eMail << '|' << r.smtp << ':' << r.smtpPortNo << '|' << r.password
              << '|' << r.subject << '|' << r.powerOn << r.powerOff << r.ssl << r.auth << '|' << *s.configErr << '\n';
}
READER
# shellcheck disable=SC2086
"$cxx" -std=c++20 -o "$work/reader" "$work/reader.cpp" $flags ||
    fail "the reader does not build with pkg-config's flags"

export XDG_CONFIG_HOME="$work/config"
"$writer" || fail "the form's writer could not store the settings"
"$work/reader" >"$work/read" || fail "the reader found nothing usable"
expected=$(printf 'taro@example.test|hanako@example.test|smtp.example.test:465|p~ss\177|\223d\214\271 on|1010|0')
[ "$(cat "$work/read")" = "$expected" ] ||
    fail "the reader read '$(cat -v "$work/read" | tr -d '\n')', expected '$(printf '%s' "$expected" | cat -v)'"
echo "installed_reader_test: the installed reader read what the form stored"

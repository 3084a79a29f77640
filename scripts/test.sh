#!/bin/sh
# The README's test command: installs the Debian packages that are missing
# (make included, so that a bare Debian 12 works), then builds and runs the
# whole suite twice, normally and under AddressSanitizer + UBSan, then runs
# the libFuzzer targets for a bounded time (scripts/fuzz.sh).
set -eu
cd "$(dirname "$0")/.."
./scripts/install-deps.sh
exec make check check-asan fuzz

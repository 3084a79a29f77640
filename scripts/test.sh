#!/bin/sh
# The README's test command: installs the Debian packages that are missing
# (make included, so that a bare Debian 12 works), then builds and runs the
# whole suite, lints the product code with clang-format and clang-tidy
# (scripts/lint.sh), builds the Debian packages and checks them with lintian and
# appstreamcli (scripts/check-package.sh), runs the suite again under
# AddressSanitizer + UBSan, then runs the libFuzzer targets for a bounded
# time (scripts/fuzz.sh).
set -eu
cd "$(dirname "$0")/.."
./scripts/install-deps.sh
exec make check lint package-check check-asan fuzz

#!/bin/sh
# The README's run command: installs what is missing, builds, starts the program.
set -eu
cd "$(dirname "$0")/.."
./scripts/install-deps.sh
exec make run

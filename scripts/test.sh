#!/usr/bin/env bash
# Runs every test: the unit tests, then the end-to-end tests of the real program under
# a virtual display. Installs what is missing first.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh test
scripts/build.sh dev
ctest --preset dev --output-on-failure "$@"

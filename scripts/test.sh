#!/usr/bin/env bash
# Runs every test: the unit tests, the X11 service tests and the end-to-end tests of
# the real program under virtual displays, then the unit tests again under
# AddressSanitizer and UndefinedBehaviorSanitizer. Installs what is missing first.
# Extra arguments go to ctest (for example -L unit, or -R controller).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh test
scripts/build.sh dev

# The X11 service tests talk to a display of their own; the end-to-end tests start
# theirs, and the unit tests run offscreen.
source scripts/virtual-display.sh
start_virtual_display 1280x800
ctest --preset dev --output-on-failure "$@"

if [ "${DAUBLY_SKIP_ASAN:-0}" != 1 ] && [ $# -eq 0 ]; then
    scripts/build.sh asan
    ctest --preset asan --output-on-failure
fi

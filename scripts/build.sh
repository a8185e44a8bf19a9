#!/usr/bin/env bash
# Configures and builds one preset (default: dev). Usage: scripts/build.sh [PRESET] [TARGET...]
set -euo pipefail
cd "$(dirname "$0")/.."
preset=${1:-dev}
shift || true
if [ ! -f "build/$preset/CMakeCache.txt" ]; then
    echo "daubly: configuring build/$preset…" >&2
    cmake --preset "$preset" >/dev/null
fi
cmake --build --preset "$preset" ${1:+--target "$@"}

#!/bin/bash
# Pictures of the onboarding pages, light and dark, for the README (docs/):
#   scripts/screenshots.sh [BUILD_DIR]      (build/dev by default)
# Renders offscreen with Qt's own style and font size, so the pictures do not depend on
# the desktop they are made on.
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD=${1:-build/dev}
cmake --build "$BUILD" --target onboarding_screenshots
"$BUILD/tests/unit/onboarding_screenshots" docs

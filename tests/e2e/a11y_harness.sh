#!/usr/bin/env bash
# The accessibility harness itself: a Qt window on the private buses is found by role
# and name, a missing control is reported within its deadline, and a closed window
# leaves the tree.
source "$(dirname "$0")/lib.sh"
source "$(dirname "$0")/a11y_lib.sh"

e2e_start
a11y_start
start_scene --pattern solid:#336699 --geometry 300x200+50+50
a11y --app daubly_scene wait filler "*" || fail "the scene window is not in the tree"
if a11y --app daubly_scene --timeout 0.5 wait "push button" "No such button" 2>/dev/null; then
    fail "a missing control was found"
fi
kill "${SCENE_PIDS[0]}"
a11y --app daubly_scene gone filler "*" || fail "the closed window is still in the tree"
echo "PASS: a11y_harness"

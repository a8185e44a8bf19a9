#!/usr/bin/env bash
# Builds the layering probes: the control must build, every other probe must fail, and
# for the reason it was written for.
set -u
cmake=$1
build=$2

build_probe() {
    "$cmake" --build "$build" --target "$1" 2>&1
}

status=0
if ! output=$(build_probe layering_model_control); then
    printf 'The control probe does not build:\n%s\n' "$output"
    exit 1
fi

expect_failure() { # target, text the failure must show
    local output
    if output=$(build_probe "$1"); then
        echo "FAIL: $1 builds, the layering does not hold"
        status=1
    elif ! grep -qF -- "$2" <<<"$output"; then
        printf 'FAIL: %s fails, but not with "%s":\n%s\n' "$1" "$2" "$output"
        status=1
    else
        echo "ok: $1 fails ($2)"
    fi
}

expect_failure layering_model_includes_backend "backends/x11/X11Screens.h: No such file"
expect_failure layering_backend_includes_model "app/PickerController.h: No such file"
expect_failure layering_model_calls_xcb "undefined reference to \`xcb_connect"
expect_failure layering_colors_include_qt "QString: No such file"
exit $status

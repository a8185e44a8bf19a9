#!/usr/bin/env bash
# A refusal on GNOME leads the user to the remedy: the monitor chooser of the screen cast
# cancelled, or screenshots refused in the desktop's permission store (the Screenshot
# portal), and daubly shows the onboarding page about the permission instead of failing
# in silence; a pick after that shows it again.
source "$(dirname "$0")/gnome_lib.sh"

gn_start "1280x720:#336699"
gn_move 640 360

permission_page_shows() {
    a11y --timeout 15 wait "push button" "Open Privacy Settings…" ||
        fail "$1: no permission page (daubly's windows: $(a11y names frame 2>&1))"
}

for refusal in chooser store; do
    write_defaults '{"hasCompletedOnboarding": true, "didRequestScreenCapture": true}'
    case $refusal in
    chooser)
        start_gn_daubly
        as_test_user "$DAUBLY" --pick >>"$E2E_DIR/daubly.log" 2>&1 || fail "daubly --pick failed"
        gn_chooser cancel
        ;;
    store)
        gn_set_permission screenshot screenshot no
        DAUBLY_CAPTURE=portal start_gn_daubly
        as_test_user "$DAUBLY" --pick >>"$E2E_DIR/daubly.log" 2>&1 || fail "daubly --pick failed"
        ;;
    esac
    eventually 20 "$refusal: the refusal is logged" log_has "Screen capture failed"
    permission_page_shows "$refusal"
    log_has "Magnifier shown" && fail "$refusal: a loupe showed after the refusal"

    # The next pick asks for the permission again, through the same page.
    missing=$(log_count "Screen Recording permission missing")
    as_test_user "$DAUBLY" --pick >>"$E2E_DIR/daubly.log" 2>&1 || fail "daubly --pick failed"
    eventually 10 "$refusal: the next pick finds the permission missing" \
        log_count_above "Screen Recording permission missing" "$missing"
    permission_page_shows "$refusal, next pick"
    quit_daubly
    : >"$E2E_DIR/daubly.log"
done

# The probe: with screenshots allowed again, the same session picks.
gn_set_permission screenshot screenshot yes
write_defaults '{"hasCompletedOnboarding": true, "didRequestScreenCapture": true, "copyFormat": "hex"}'
DAUBLY_CAPTURE=portal start_gn_daubly
gn_pick
gn_click_copy
gn_expect_copied "#336699"
echo "PASS: gnome refusal"

#!/usr/bin/env bash
# The onboarding window on the real program, read and driven through the accessibility
# tree: a first launch opens it on the welcome page, the pages lead to one another,
# the format tile is stored, "Try It Now" closes it and picks, the next launch shows no
# window until Settings' "Show…" asks for it, and closing it through the window manager
# on any page completes onboarding.
source "$(dirname "$0")/lib.sh"
source "$(dirname "$0")/a11y_lib.sh"

DEFAULTS=
settings_have() { grep -qF -- "$1" "$DEFAULTS"; }
window() { xdotool search --onlyvisible --name '^Welcome to Daubly$' 2>/dev/null | head -n1; }

e2e_start
a11y_start
DEFAULTS=$XDG_CONFIG_HOME/daubly/defaults.json

# First launch: no settings at all.
start_daubly
a11y wait frame "Welcome to Daubly" || fail "the welcome window did not open"
eventually 5 "the page is logged" log_has "Welcome window shown on page welcome"
a11y wait "push button" "Get Started" || fail "no Get Started on the welcome page"
a11y --timeout 0.5 gone "push button" "Back" || fail "the footer shows on the welcome page"
a11y --timeout 0.5 gone label "/Page . of 3/" || fail "the page dots show on the welcome page"

a11y_press "push button" "Get Started"
a11y wait label "You're all set" || fail "X11 needs no permission: the card says so"
a11y wait label "Page 2 of 3" || fail "no page indicator on the permission page"
a11y wait "push button" "Back" || fail "no Back on the permission page"

a11y_press "push button" "Continue"
a11y wait label "Page 3 of 3" || fail "Continue did not lead to the setup page"
a11y wait heading "Make it yours" || fail "the setup page has no title"
a11y_expect "check box" "Open at login" nostate checked
a11y wait "push button" "Reset to Alt C" || fail "no reset button beside the recorder"

a11y_press "check box" "HEX"
eventually 5 "HEX is stored" settings_have '"copyFormat": "hex"'
a11y wait label "Copies #FF5733" || fail "the preview does not read #FF5733"
a11y_expect "check box" "HEX" state checked

a11y_expect "push button" "Try It Now" state enabled
a11y_press "push button" "Try It Now"
a11y gone frame "Welcome to Daubly" || fail "Try It Now did not close the window"
eventually 5 "onboarding is completed" settings_have '"hasCompletedOnboarding": true'
eventually 5 "a pick starts after Try It Now" log_has "Color picker started"
eventually 10 "the overlay appears" overlay_shown
xdotool key Escape
eventually 5 "the pick is cancelled" log_has "Color picker cancelled"

# The next launch shows no window: the tray is up and a pick works, but no welcome.
quit_daubly
: >"$E2E_DIR/daubly.log"
start_daubly
xdotool key alt+c
eventually 10 "Alt+C picks on the next launch" log_has "Color picker started"
eventually 10 "the overlay appears" overlay_shown
xdotool key Escape
eventually 5 "the pick is cancelled" log_has "Color picker cancelled"
log_has "Welcome window shown" && fail "the window opened again after completion"
[ -z "$(window)" ] || fail "a welcome window is on screen"

# "Show…" in Settings brings it back, on the welcome page.
timeout 10 "$DAUBLY" >/dev/null 2>&1 || fail "a second start did not open Settings"
a11y wait frame "Daubly Settings" || fail "no Settings window"
a11y_press "push button" "Show…"
a11y wait frame "Welcome to Daubly" || fail "Show… did not bring the window back"
eventually 5 "the replay is logged" log_has "Welcome window shown on page welcome"
a11y wait "push button" "Get Started" || fail "the replay is not on the welcome page"
quit_daubly

# The window manager's close (Alt+F4 in openbox) completes onboarding on every page.
for page in welcome permission setup; do
    rm -f "$DEFAULTS"
    : >"$E2E_DIR/daubly.log"
    start_daubly
    a11y wait frame "Welcome to Daubly" || fail "no window for the $page page"
    case $page in
    permission) a11y_press "push button" "Get Started" ;;
    setup)
        a11y_press "push button" "Get Started"
        a11y_press "push button" "Continue"
        ;;
    esac
    a11y wait label "Page $((${#page} == 7 ? 1 : ${#page} == 10 ? 2 : 3)) of 3" >/dev/null 2>&1 || true
    xdotool windowactivate --sync "$(window)" key --clearmodifiers alt+F4
    a11y gone frame "Welcome to Daubly" || fail "Alt+F4 did not close the window on $page"
    eventually 5 "closing on $page completes onboarding" settings_have '"hasCompletedOnboarding": true'
    quit_daubly
done
echo "PASS: onboarding"

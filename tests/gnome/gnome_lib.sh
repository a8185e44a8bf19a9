# Helpers of the GNOME end-to-end tests: a headless GNOME Shell (scripts/gnome-session.sh)
# with a known wallpaper, pointer and keys through org.gnome.Mutter.RemoteDesktop
# (remote_input.py), the clipboard through wl-clipboard, the portals' dialogs through
# the accessibility tree. Sourced by each test with the daubly executable as $1; builds
# on tests/e2e/wayland_lib.sh (its user switch, programs and clipboard).

source "$(dirname "${BASH_SOURCE[0]}")/../e2e/wayland_lib.sh"
source "$(dirname "${BASH_SOURCE[0]}")/../e2e/a11y_lib.sh"
GN_DIR=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)

GN_INPUT_PID=
gn_cleanup() {
    local status=$?
    set +e
    if [ -n "$DAUBLY_PID" ]; then kill "$DAUBLY_PID" 2>/dev/null; fi
    if [ -n "$GN_INPUT_PID" ]; then kill "$GN_INPUT_PID" 2>/dev/null; fi
    if [ -n "$WL_SESSION_PID" ]; then
        kill "$WL_SESSION_PID" 2>/dev/null
        wait "$WL_SESSION_PID" 2>/dev/null
    fi
    (exit "$status")
    cleanup
}

eval "wl_$(declare -f fail)"
fail() {
    local f
    for f in session.err input.out a11y.err; do
        if [ -s "$E2E_DIR/$f" ]; then
            echo "--- $f:" >&2
            tail -n 30 "$E2E_DIR/$f" >&2
        fi
    done
    if [ -n "${DAUBLY_GNOME_SESSION:-}" ]; then
        for f in portal.log portal-gnome.log; do
            [ -s "$DAUBLY_GNOME_SESSION/$f" ] || continue
            echo "--- $f:" >&2
            tail -n 15 "$DAUBLY_GNOME_SESSION/$f" >&2
        done
    fi
    wl_fail "$@"
}

# gn_start WIDTHxHEIGHT[:BACKGROUND]: the session and the remote input; exports the
# session's environment.
gn_start() {
    wl_session gn_cleanup gnome-session.sh session.err DAUBLY_GNOME_SESSION 60 GNOME "$@"
    export QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1
    wl_reachable_programs
    # The helpers run as the session's user, who may not reach the clone: copies.
    mkdir -p "$E2E_DIR/bin"
    cp "$GN_DIR/remote_input.py" "$GN_DIR/chooser.py" "$A11Y_PY" "$E2E_DIR/bin/" ||
        fail "cannot copy the helpers"
    GN_HELPERS=$E2E_DIR/bin A11Y_PY=$E2E_DIR/bin/$(basename "$A11Y_PY")
    chown -R "$DAUBLY_WAYLAND_USER:" "$E2E_DIR"
    gn_start_input
}

gn_start_input() {
    mkfifo "$E2E_DIR/input.in"
    : >"$E2E_DIR/input.out"
    chown "$DAUBLY_WAYLAND_USER:" "$E2E_DIR/input.in" "$E2E_DIR/input.out"
    "${WL_AS_USER[@]}" /usr/bin/python3 "$GN_HELPERS/remote_input.py" \
        <>"$E2E_DIR/input.in" >>"$E2E_DIR/input.out" 2>&1 &
    GN_INPUT_PID=$!
    eventually 10 "the remote desktop session starts" grep -qx ready "$E2E_DIR/input.out"
    # The seat has a keyboard only once the session's virtual keyboard typed a key;
    # without one no client gets the focus a clipboard owner needs.
    gn_input key Shift_L
}

gn_input_answers() { (($(grep -cE '^(ok|error)' "$E2E_DIR/input.out") > $1)); }
# Sends COMMAND and waits up to 5 s for its answer, failing or not: queries whose caller
# reads what came back. GN_ANSWERS_BEFORE counts the answers before this one.
gn_ask() {
    GN_ANSWERS_BEFORE=$(grep -cE '^(ok|error)' "$E2E_DIR/input.out" || true)
    echo "$1" >"$E2E_DIR/input.in"
    for _ in $(seq 100); do
        gn_input_answers "$GN_ANSWERS_BEFORE" && break
        sleep 0.05
    done
}
gn_input() { # COMMAND...: one remote_input.py command, waited for
    local before
    before=$(grep -cE '^(ok|error)' "$E2E_DIR/input.out" || true)
    echo "$*" >"$E2E_DIR/input.in"
    eventually 5 "the Shell takes '$*'" gn_input_answers "$before"
    tail -n 1 "$E2E_DIR/input.out" | grep -qx ok || fail "the Shell refused '$*'"
}
# The clipboard, read through the remote desktop session.
clipboard() {
    gn_ask paste
    grep '^text: ' "$E2E_DIR/input.out" | tail -n 1 | cut -c7-
}
gn_move() { gn_input move "$1" "$2"; }
gn_click() { gn_input click "${1:-left}"; }
# A click that copies: the Shell maps the overlay before it gives it the resting pointer,
# so a click at once may still go to the desktop below; as a user would, it is clicked
# again while the overlay is up and nothing was copied.
gn_click_copy() {
    local copied
    copied=$(log_count "Copied color as")
    for _ in 1 2 3; do
        gn_click left
        for _ in $(seq 20); do
            log_count_above "Copied color as" "$copied" && return 0
            sleep 0.05
        done
        overlay_shown || fail "the overlay went without a copy"
    done
    fail "three clicks copied nothing"
}
gn_keys() { gn_input key "$@"; }

# The permission store of the session's portals (table, id, app "" for a host app).
gn_set_permission() { # TABLE ID yes|no
    as_test_user gdbus call --session --dest org.freedesktop.impl.portal.PermissionStore \
        --object-path /org/freedesktop/impl/portal/PermissionStore \
        --method org.freedesktop.impl.portal.PermissionStore.SetPermission \
        "$1" true "$2" '' "['$3']" >/dev/null || fail "cannot set the $1 permission"
}

# daubly's windows through the accessibility tree.
gn_a11y() { as_test_user "$A11Y_PYTHON" "$A11Y_PY" "$@" 2>>"$E2E_DIR/a11y.err"; }
# daubly's windows, as the session's user sees them.
a11y() { gn_a11y "$@"; }

# The screen cast's monitor chooser, answered as a user does: share | cancel.
gn_chooser() {
    as_test_user /usr/bin/python3 "$GN_HELPERS/chooser.py" "$1" 20 2>>"$E2E_DIR/a11y.err" ||
        fail "cannot $1 in the monitor chooser"
}

# The windows the Shell shows, one a line: WM_CLASS FOCUSED WIDTHxHEIGHT TITLE (the
# Wayland app id as the class).
gn_windows() {
    gn_ask windows
    # The lines of the last answer: those after the answer before it.
    awk -v n="$GN_ANSWERS_BEFORE" '/^(ok|error)/ { c++; next } c == n && /^window: / { print substr($0, 9) }' \
        "$E2E_DIR/input.out"
}
# daubly's overlay: its window as large as the monitor, and it has the focus.
overlay_count() {
    gn_windows | awk -v size="${DAUBLY_WAYLAND_LAYOUT/ /x}" \
        '($1 == "app.daubly.Daubly" || $1 == "daubly") && $3 == size' | wc -l
}
overlay_shown() { (($(overlay_count) > 0)); }
overlay_gone() { (($(overlay_count) == 0)); }

# Starts a pick with daubly --pick and waits for the overlay and the loupe.
gn_pick() {
    local painted
    painted=$(log_count "Loupe painted")
    as_test_user "$DAUBLY" --pick >>"$E2E_DIR/daubly.log" 2>&1 || fail "daubly --pick failed"
    eventually 20 "the overlay shows" overlay_shown
    eventually 10 "the loupe shows" log_count_above "Loupe painted" "$painted"
}
# Expects the clipboard to become TEXT, logged as a copy.
gn_expect_copied() {
    eventually 5 "the clipboard holds '$1'" clipboard_is "$1"
    eventually 5 "the overlay goes after a copy" overlay_gone
}

start_gn_daubly() {
    start_daubly "$@"
    log_has "Platform backend: wayland" || fail "daubly does not use its Wayland backend"
}

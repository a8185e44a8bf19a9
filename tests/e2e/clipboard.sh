#!/usr/bin/env bash
# The copied text outlives daubly: quitting (through the menu or SIGTERM) leaves a
# keeper process that serves it until another application takes the clipboard; where
# a clipboard manager runs, the manager saves it and nothing of daubly stays.
source "$(dirname "$0")/lib.sh"

e2e_start 1280x800
start_scene --pattern 'solid:#336699' --geometry 400x400+400+200
write_defaults '{"hasCompletedOnboarding": true, "copyFormat": "hex"}'

keeper_running() { pgrep -f -- "^$DAUBLY --keep-clipboard" >/dev/null; }
keeper_gone() { ! keeper_running; }

copy_then_quit() {
    start_daubly
    pick_from_menu
    xdotool mousemove 600 400 click 1
    expect_copied "#336699"
    case $1 in
    menu)
        open_menu
        click_last_menu_item
        ;;
    TERM) kill -TERM "$DAUBLY_PID" ;;
    esac
    eventually 10 "daubly quits ($1)" daubly_exits
    wait "$DAUBLY_PID" || fail "daubly exited with $? ($1)"
    DAUBLY_PID=
}

for how in menu TERM; do
    copy_then_quit "$how"
    clipboard_is "#336699" || fail "the clipboard holds '$(clipboard)' after quitting ($how)"
    keeper_running || fail "no keeper process after quitting ($how)"
    log_has "The clipboard stays with a keeper process" || fail "the hand-over is not logged"
    # Another application takes the clipboard: the keeper goes.
    set_clipboard "taken ($how)"
    eventually 1 "the keeper exits once the clipboard is taken ($how)" keeper_gone
    : >"$E2E_DIR/daubly.log"
done

# With a clipboard manager, the manager keeps the text and no keeper is left.
"${DAUBLY_CLIPBOARD_MANAGER:?set by ctest}" >"$E2E_DIR/manager.out" 2>&1 &
SCENE_PIDS+=($!)
eventually 5 "the clipboard manager starts" grep -qx ready "$E2E_DIR/manager.out"
copy_then_quit menu
eventually 5 "the manager saves the copy" grep -qx "saved #336699" "$E2E_DIR/manager.out"
clipboard_is "#336699" || fail "the clipboard holds '$(clipboard)' after the manager saved it"
keeper_gone || fail "a keeper process runs although a clipboard manager saved the text"
log_has "Handing the clipboard to the clipboard manager" || fail "the manager hand-over is not logged"
echo "PASS: clipboard"

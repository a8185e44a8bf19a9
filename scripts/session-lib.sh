# Shared by the headless session scripts (sourced; the caller defines die).
#
# session_user: sets test_user and as_user, the prefix that runs a command as that user.
# The compositors refuse root or expect a real login: as root everything runs as the
# system user daubly-test (created when missing); otherwise as the current user.
session_user() {
    test_user=daubly-test
    if [ "$(id -u)" = 0 ]; then
        if ! id -u "$test_user" >/dev/null 2>&1; then
            # Another test may create it at the same moment: only its absence afterwards fails.
            useradd --system --user-group --no-create-home --home-dir /nonexistent \
                --shell /usr/sbin/nologin "$test_user" 2>/dev/null
            id -u "$test_user" >/dev/null 2>&1 || die "could not create the user $test_user"
        fi
        as_user=(setpriv --reuid="$test_user" --regid="$test_user" --init-groups --)
    else
        test_user=$(id -un)
        as_user=()
    fi
}

# session_reachable FOLDER: the session's user can write FOLDER (TMPDIR may be closed to it).
session_reachable() {
    "${as_user[@]}" test -w "$1" ||
        die "$test_user cannot reach $1: set TMPDIR to a folder open to it"
}

# session_wait_for SECONDS WHAT LOG COMMAND...: polls until COMMAND succeeds; past the
# deadline shows the end of $work/LOG and dies with WHAT.
session_wait_for() {
    local seconds=$1 what=$2 log=$3
    shift 3
    for _ in $(seq $((seconds * 20))); do
        "$@" && return 0
        sleep 0.05
    done
    [ -s "$work/$log" ] && tail -n 20 "$work/$log" >&2
    die "$what (waited ${seconds}s)"
}

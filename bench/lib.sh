# Helpers the benchmark scripts share. Sourced.

until_true() { # SECONDS COMMAND...: polls every 10 ms
    local seconds=$1
    shift
    for ((t = 0; t < seconds * 100; t++)); do
        "$@" && return 0
        sleep 0.01
    done
    return 1
}

median() { sort -n | awk '{ v[NR] = $1 } END { if (NR) print v[int((NR + 1) / 2)]; else print "-" }'; }
rss_kb() { awk '/^VmRSS:/ { print $2 }' "/proc/$1/status"; }

# Median, 90th percentile (nearest rank) and maximum of the numbers on stdin.
spread() {
    sort -n | awk '{ v[NR] = $1 }
        END { if (!NR) { print "-"; exit }
              p = int(NR * 0.9); if (p < NR * 0.9) p++
              printf "median %s p90 %s max %s", v[int((NR + 1) / 2)], v[p], v[NR] }'
}
# Lines of daubly's log ($WORK/daubly.log) that contain TEXT, and whether they grew past N.
count() { grep -c -- "$1" "$WORK/daubly.log" || true; }
grew() { (($(count "$1") > $2)); }
# What of a process's memory it holds itself, not pages of the files it runs (libraries,
# fonts).
held_kb() { awk '/^Rss(Anon|Shmem):/ { t += $2 } END { print t }' "/proc/$1/status"; }
cpu_ticks() { awk '{ print $14 + $15 }' "/proc/$1/stat"; }

# Stops the processes in the array `pids`, the last started first.
stop_all() {
    local i
    for ((i = ${#pids[@]} - 1; i >= 0; i--)); do
        kill "${pids[i]}" 2>/dev/null && { wait "${pids[i]}" 2>/dev/null || true; }
    done
    pids=()
}

# Starts scripts/SCRIPT ARG... (its errors in $WORK/ERRORS), waits up to SECONDS until it
# has printed LAST, the last line of its environment, and sources that. Sets as_user, the
# prefix that runs a command as the session's user.
start_session() { # SCRIPT ERRORS LAST SECONDS DESKTOP ARG...
    local script=$1 errors=$2 last=$3 seconds=$4 desktop=$5
    shift 5
    "scripts/$script" "$@" >"$WORK/session.env" 2>"$WORK/$errors" &
    pids+=($!)
    until_true "$seconds" grep -qs "$last" "$WORK/session.env" ||
        die "no $desktop session: $(cat "$WORK/$errors")"
    source "$WORK/session.env"
    as_user=()
    if [ "$(id -u)" = 0 ]; then
        as_user=(setpriv --reuid="$DAUBLY_WAYLAND_USER" --regid="$DAUBLY_WAYLAND_USER" --init-groups --)
    fi
}

# The tests' pointer or fake input: reads commands from $WORK/pointer.in and answers "ok"
# to each in $WORK/pointer.out once the compositor has handled it.
start_input() { # COMMAND...
    rm -f "$WORK/pointer.in"
    mkfifo "$WORK/pointer.in"
    : >"$WORK/pointer.out"
    chown "$DAUBLY_WAYLAND_USER:" "$WORK/pointer.out" "$WORK/pointer.in"
    "${as_user[@]}" "$@" <>"$WORK/pointer.in" >>"$WORK/pointer.out" 2>&1 &
    pids+=($!)
    until_true 10 grep -qx ready "$WORK/pointer.out" || die "no input: $(cat "$WORK/pointer.out")"
}
input() { # COMMAND: waits for its answer
    local before
    before=$(grep -cx ok "$WORK/pointer.out" || true)
    echo "$*" >"$WORK/pointer.in"
    until_true 5 eval '(($(grep -cx ok "$WORK/pointer.out") > before))' || die "input: $*"
}

# The "Loupe painted" and "Magnifier shown" times of the first PICKS + 1 picks in
# daubly's log: the first apart, then the spread of the others; each line after INDENT.
print_latencies() { # INDENT
    local painted shown
    painted=$(sed -n 's/.*Loupe painted \([0-9]*\) ms.*/\1/p' "$WORK/daubly.log" | head -n $((PICKS + 1)))
    shown=$(sed -n 's/.*Magnifier shown \([0-9]*\) ms.*/\1/p' "$WORK/daubly.log" | head -n $((PICKS + 1)))
    printf '%spainted: first %s ms, then %s ms (%d picks)\n' "$1" "$(head -n1 <<<"$painted")" \
        "$(tail -n +2 <<<"$painted" | spread)" "$PICKS"
    printf '%sshown:   first %s ms, then %s ms\n' "$1" "$(head -n1 <<<"$shown")" \
        "$(tail -n +2 <<<"$shown" | spread)"
}

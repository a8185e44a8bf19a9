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

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

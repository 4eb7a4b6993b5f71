#!/bin/bash
# The README's comparison with ngircd, from one run of each measure: both servers driven
# by the same clients of the load generator, one after the other in the same run.
#   bench/server/comparison.sh [BUILD_DIR]          (default: build)
# Environment: SECONDS_PER_STAGE (default 10), SERVER (our binary, default the build's),
# IRC_LOGINS=1 also times ngircd's 5,000 and 10,000 logins (many minutes: it takes
# connections 8 at a time).
# Prints the raw output of every run to stderr and the table to stdout.
set -euo pipefail

build=${1:-build}
loadgen=$build/bench/server/ostrel-server-loadgen
seconds=${SECONDS_PER_STAGE:-10}
server_args=()
[ -n "${SERVER:-}" ] && server_args=(--server "$SERVER")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

run() {
    local out=$1
    shift
    echo "+ $loadgen $*" >&2
    "$loadgen" "$@" "${server_args[@]}" | tee "$out" >&2
}

# The value in column 2 (ours) or 3 (ngircd) of a row of the loadgen's comparison table.
cell() {
    awk -F'|' -v row="$2" -v col="$3" '
        { name = $2; gsub(/^ +| +$/, "", name) }
        name == row { v = $(col + 2); gsub(/ /, "", v); print v; exit }' "$1"
}

# Login time of an --idle run.
login_seconds() {
    sed -n 's/.*logged in and in their rooms in \([0-9.]*\) s.*/\1/p' "$1" | head -1
}

run "$work/fast" --compare --clients 2000 --rate 2000 --seconds "$seconds" --no-saturation
run "$work/slow" --compare --clients 1000 --rate 30 --rooms 1 --seconds "$seconds" \
    --no-saturation --slow-readers
for n in 2000 5000 10000; do
    run "$work/login$n" --idle --clients "$n" --idle-seconds 2
    if [ "$n" = 2000 ] || [ "${IRC_LOGINS:-0}" = 1 ]; then
        run "$work/irclogin$n" --irc --idle --clients "$n" --idle-seconds 2
    fi
done

ratio() {
    awk -v a="$1" -v b="$2" 'BEGIN { if (a != "" && b != "" && b + 0 > 0) printf "%.2f", a / b }'
}
row() {
    printf '| %s | %s | %s | %s |\n' "$1" "$2" "$3" "$(ratio "$2" "$3")"
}
both() {
    row "$1" "$(cell "$2" "$3" 1)" "$(cell "$2" "$3" 2)"
}

echo
echo "$(date -u +%Y-%m-%dT%H:%MZ), $(nproc) cores, load average $(cut -d' ' -f1-3 /proc/loadavg)"
echo
echo "| | ostrel-lobby-server | ngircd | ours/theirs |"
echo "|---|---:|---:|---:|"
both "fan-out p50, 2,000 clients, fast receivers (ms)" "$work/fast" "fixed rate: p50 latency (ms)"
both "fan-out p99, 2,000 clients, fast receivers (ms)" "$work/fast" "fixed rate: p99 latency (ms)"
both "fan-out p50, 1,000 slow readers, one room (ms)" "$work/slow" "fixed rate: p50 latency (ms)"
both "fan-out p99, 1,000 slow readers, one room (ms)" "$work/slow" "fixed rate: p99 latency (ms)"
both "write calls per delivery, fast receivers" "$work/fast" \
    "fixed rate: server write calls per delivery"
both "write calls per delivery, slow readers" "$work/slow" \
    "fixed rate: server write calls per delivery"
both "RSS per connection during login, fast receivers (KiB)" "$work/fast" \
    "RSS per connection, logged in (KiB)"
both "RSS per connection during login, slow readers (KiB)" "$work/slow" \
    "RSS per connection, logged in (KiB)"
both "RSS per connection after the load, fast receivers (KiB)" "$work/fast" \
    "RSS per connection, after the load (KiB)"
both "RSS per connection after the load, slow readers (KiB)" "$work/slow" \
    "RSS per connection, after the load (KiB)"
for n in 2000 5000 10000; do
    theirs=""
    [ -f "$work/irclogin$n" ] && theirs=$(login_seconds "$work/irclogin$n")
    row "$n logins, idle clients (s)" "$(login_seconds "$work/login$n")" "$theirs"
done

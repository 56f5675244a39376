#!/usr/bin/env bash
# Runs every benchmark and prints one table: Lagoscope (a Release build, the
# real window under Xvfb) beside iputils ping, in one run, inside a network
# namespace of its own where both ping its loopback. Needs root; takes about
# nine minutes.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh test # the tray and the notification server too
command -v ping >/dev/null || DEBIAN_FRONTEND=noninteractive apt-get install -y -qq iputils-ping
command -v strace >/dev/null || DEBIAN_FRONTEND=noninteractive apt-get install -y -qq strace
cmake -S . -B build-release -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build-release --target lagoscope-bench-window lagoscope-bench-peer \
    lagoscope-bench-reply >/dev/null
bin=build-release/bench

source scripts/lib/lab.sh
ns="lagoscope-bench-$$"
lab_namespace "$ns"
hog=""
display=:$((90 + RANDOM % 100))
at_exit '[ -n "$hog" ] && kill "$hog" 2>/dev/null; pkill -f "^Xvfb $display"'
inns() { ip netns exec "$ns" "$@"; }
export QT_QPA_PLATFORM=xcb
# One X server for every run, so that start-up figures are the program's own.
inns Xvfb "$display" -screen 0 640x240x24 -nolisten tcp >/dev/null 2>&1 &
export DISPLAY=$display
sleep 1

# CPU time (ns, from schedstat: clock ticks are too coarse for ping) and
# wake-ups of all of a process's threads.
cpu_ns() { cat /proc/"$1"/task/*/schedstat | awk '{s += $1} END {print s}'; }
wakeups() { cat /proc/"$1"/task/*/status | awk '/voluntary_ctxt_switches/ {s += $2} END {print s}'; }
# After `settle` seconds, over `seconds`: "CPU-% us-per-request wake-ups-per-request",
# the requests counted by the kernel of namespace `counter` (the bench's own).
cost_of() {
    local pid=$1 settle=$2 seconds=$3 counter=${4:-$ns} c0 c1 w0 w1 e0 e1
    sleep "$settle"
    c0=$(cpu_ns "$pid") w0=$(wakeups "$pid") e0=$(echo_requests "$counter")
    sleep "$seconds"
    c1=$(cpu_ns "$pid") w1=$(wakeups "$pid") e1=$(echo_requests "$counter")
    awk -v c="$((c1 - c0))" -v w="$((w1 - w0))" -v e="$((e1 - e0))" -v s="$seconds" \
        'BEGIN {printf "%.2f %.0f %.2f", c / s / 1e7, c / e / 1e3, w / e}'
}
# System calls of all of a process's threads per request, over `seconds`.
syscalls_of() {
    local pid=$1 seconds=$2 e0 e1 log
    log=$(mktemp)
    e0=$(echo_requests "$ns")
    timeout -s INT "$seconds" strace -c -f -p "$pid" -o "$log" >/dev/null 2>&1 || true
    e1=$(echo_requests "$ns")
    awk -v e="$((e1 - e0))" '$NF == "total" {printf "%.1f", $4 / e}' "$log"
    rm -f "$log"
}
rss_of() { awk '/^VmRSS:/ {printf "%.1f", $2 / 1024}' "/proc/$1/status"; }
median() { sort -n | awk '{v[NR] = $1} END {print v[int((NR + 1) / 2)]}'; }
field() { awk -v k="$1" '{for (i = 1; i < NF; ++i) if ($i == k) print $(i + 1)}'; }

window() { # interval seconds [host]: runs the window in the background, pid in $pid
    LAGOSCOPE_EXEC_NS="$(date +%s%N)" inns $bin/lagoscope-bench-window "$1" "$2" "${3:-127.0.0.1}" \
        >"$out" 2>/dev/null &
    pid=$!
}
out=$(mktemp)
finish() { wait "$1" 2>/dev/null || true; }

echo "measuring: reply cost" >&2
reply_us=$(for _ in 1 2 3; do $bin/lagoscope-bench-reply 2>/dev/null | grep -o '[0-9.]* us' | cut -d' ' -f1; done | median)

echo "measuring: CPU, wake-ups, system calls, frames and memory at 10 and 100 ms" >&2
kernel_echo 1 "$ns"
declare -A cost calls rss fps
for interval in 10 100; do
    window "$interval" 30
    wpid=$(wait_for_process -f "^$bin/lagoscope-bench-window $interval")
    cost[lago$interval]=$(cost_of "$wpid" 5 15)
    rss[lago$interval]=$(rss_of "$wpid")
    calls[lago$interval]=$(syscalls_of "$wpid" 5)
    finish "$pid"
    fps[$interval]=$(field frames-per-second <"$out")
    sleep 1
    inns ping -q -i "$(awk -v i="$interval" 'BEGIN {print i / 1000}')" -w 30 127.0.0.1 >/dev/null &
    pinging=$!
    sleep 0.5
    ppid=$(wait_for_process -x ping)
    cost[ping$interval]=$(cost_of "$ppid" 2 15)
    rss[ping$interval]=$(rss_of "$ppid")
    calls[ping$interval]=$(syscalls_of "$ppid" 5)
    wait "$pinging" || true
done

# The same window with a tray (trayer, XEmbed) and a notification server
# (dunst) on a session bus of its own, as a desktop runs them.
echo "measuring: CPU with a tray and a notification server" >&2
bus_dir=$(mktemp -d)
bus=$(inns dbus-daemon --session --fork --print-address=1 --print-pid=2 \
    --address="unix:path=$bus_dir/bus" 2>"$bus_dir/pid")
at_exit "kill $(cat "$bus_dir/pid") 2>/dev/null; rm -rf '$bus_dir'"
DBUS_SESSION_BUS_ADDRESS=$bus inns dunst -conf /dev/null >/dev/null 2>&1 &
at_exit "kill $! 2>/dev/null"
inns trayer --edge bottom --align right --widthtype request --height 24 >/dev/null 2>&1 &
at_exit "kill $! 2>/dev/null"
sleep 1
for interval in 10 100; do
    DBUS_SESSION_BUS_ADDRESS=$bus window "$interval" 30
    wpid=$(wait_for_process -f "^$bin/lagoscope-bench-window $interval")
    cost[tray$interval]=$(cost_of "$wpid" 5 15)
    finish "$pid"
done
# Instructions per request (callgrind: exact where CPU time on a shared machine
# is not), counted for `seconds` once the graph is full, and the five
# functions that spend most of them: "per-request top-five-lines".
echo "measuring: instructions per request at 10 and 100 ms (callgrind)" >&2
instructions_of() { # interval settle seconds [host [counter]]
    local interval=$1 settle=$2 seconds=$3 host=${4:-127.0.0.1} counter=${5:-$ns} dir vpid e0 e1 total
    dir=$(mktemp -d)
    # Not through inns: $! must be valgrind's own pid for callgrind_control.
    ip netns exec "$ns" valgrind --tool=callgrind --callgrind-out-file="$dir/run" \
        $bin/lagoscope-bench-window "$interval" $((settle + seconds + 10)) "$host" \
        >/dev/null 2>&1 &
    vpid=$!
    sleep "$settle"
    callgrind_control -z "$vpid" >/dev/null 2>&1
    e0=$(echo_requests "$counter")
    sleep "$seconds"
    e1=$(echo_requests "$counter")
    callgrind_control -d "$vpid" >/dev/null 2>&1
    wait "$vpid" || true
    total=$(awk '/^summary:/ {print $2}' "$dir/run.1")
    echo "$((total / (e1 - e0)))"
    # Calls that were under way when the counts were zeroed are written with
    # a count of 0, and callgrind_annotate would add their whole cost to the
    # caller's own: left out.
    awk '/^calls=0 / {skip = 1; next} skip {skip = 0; next} {print}' "$dir/run.1" |
        callgrind_annotate --inclusive=no --threshold=100 /dev/stdin 2>/dev/null |
        sed -nE 's/^ *([0-9,]+) \( *([0-9.]+%)\) +(\?\?\?|[^ ]*\.[A-Za-z]+):([^ (\[]*).*/\2 \4/p' |
        awk 'NR <= 5' # reads to the end: no broken pipe to fail the script
    rm -rf "$dir"
}
kernel_echo 1 "$ns"
# The graph fills in 37.6 s at 100 ms and in 3.8 s at 10 ms, plus start-up.
declare -A instr
instr[100]=$(instructions_of 100 50 20)
instr[10]=$(instructions_of 10 15 10)
# With the tray and the notification server: the tray's icon, its tooltip
# (the jitter and percentile too) and the notices' rules live.
instr[tray100]=$(DBUS_SESSION_BUS_ADDRESS=$bus instructions_of 100 50 20)
instr[tray10]=$(DBUS_SESSION_BUS_ADDRESS=$bus instructions_of 10 15 10)

# Through a router: a host beyond it, whose gateway is watched beside it,
# and a host on the link, with no gateway to watch, at 100 ms; per request
# to the host, as its kernel counts them.
echo "measuring: through a router, the gateway watched and none" >&2
router="$ns-router"
far="$ns-host"
lab_namespace "$router"
lab_namespace "$far"
lab_routed "$ns" "$router" "$far"
sleep 1
declare -A routed
for case in beyond:198.51.100.2:$far onlink:192.0.2.1:$router; do
    IFS=: read -r name target counter <<<"$case"
    window 100 30 "$target"
    wpid=$(wait_for_process -f "^$bin/lagoscope-bench-window 100 30 $target")
    routed[cpu$name]=$(cost_of "$wpid" 5 15 "$counter")
    finish "$pid"
    routed[instr$name]=$(instructions_of 100 50 20 "$target" "$counter" | head -1)
done

nth() { echo "$1" | cut -d' ' -f"$2"; }
more() { awk -v a="$(nth "$1" 2)" -v b="$(nth "$2" 2)" 'BEGIN {printf "%+.0f", (a / b - 1) * 100}'; }
ratio() { awk -v a="$(nth "$1" 2)" -v b="$(nth "$2" 2)" 'BEGIN {printf "%.1f", a / b}'; }

mapped=$(for _ in 1 2 3; do
    window 100 1
    finish "$pid"
    field painted-after-exec-ms <"$out"
done | median)

echo "measuring: request timing at 10 ms, on the peer's kernel timestamps" >&2
kernel_echo 0 "$ns"
inns $bin/lagoscope-bench-peer 0 14 10 >"$out.peer" &
peer=$!
sleep 0.5
window 10 12
finish "$pid"
wait "$peer"
lago_gap=$(cat "$out.peer")
inns $bin/lagoscope-bench-peer 0 13 10 >"$out.peer" &
peer=$!
sleep 0.5
inns ping -q -i 0.01 -c 1001 127.0.0.1 >/dev/null || true
wait "$peer"
ping_gap=$(cat "$out.peer")

echo "measuring: round trips at 5, 50 and 500 ms with the other core busy" >&2
timeout 200 sh -c 'while :; do :; done' &
hog=$!
declare -A rtt
for delay in 5 50 500; do
    inns $bin/lagoscope-bench-peer "$delay" 16 10 >/dev/null &
    peer=$!
    sleep 0.5
    window 10 6
    finish "$pid"
    rtt[lago$delay]=$(field rtt-median <"$out")
    rtt[ping$delay]=$(inns ping -i 0.01 -c 500 127.0.0.1 2>/dev/null |
        grep -o 'time=[0-9.]*' | cut -d= -f2 | median)
    wait "$peer" || true
done
kill "$hog" 2>/dev/null || true
hog=""

cat <<TABLE

| figure | Lagoscope | iputils ping | target |
|---|---|---|---|
| CPU of the whole process at the 10 ms interval, % of a core | $(nth "${cost[lago10]}" 1) % | $(nth "${cost[ping10]}" 1) % | ≤ 1.5 % |
| CPU per request at 10 ms (ratio to ping) | $(nth "${cost[lago10]}" 2) µs ($(ratio "${cost[lago10]}" "${cost[ping10]}")×) | $(nth "${cost[ping10]}" 2) µs | ≤ 3× ping |
| CPU per request at 100 ms (ratio to ping) | $(nth "${cost[lago100]}" 2) µs ($(ratio "${cost[lago100]}" "${cost[ping100]}")×) | $(nth "${cost[ping100]}" 2) µs | ≤ 5× ping |
| CPU per request with a tray and a notification server at 10 / 100 ms (change) | $(nth "${cost[tray10]}" 2) µs ($(more "${cost[tray10]}" "${cost[lago10]}") %) / $(nth "${cost[tray100]}" 2) µs ($(more "${cost[tray100]}" "${cost[lago100]}") %) | — | ≤ +10 % |
| wake-ups per request at 10 / 100 ms (all threads) | $(nth "${cost[lago10]}" 3) / $(nth "${cost[lago100]}" 3) | $(nth "${cost[ping10]}" 3) / $(nth "${cost[ping100]}" 3) | — |
| system calls per request at 10 / 100 ms (all threads) | ${calls[lago10]} / ${calls[lago100]} | ${calls[ping10]} / ${calls[ping100]} | — |
| frames presented per second at 10 / 100 ms | ${fps[10]} / ${fps[100]} | — | ≤ 30 |
| lagoscope-bench-reply (one reply, median of 3 runs) | ${reply_us} µs | — | ≤ 20 µs |
| gap between requests at 10 ms: median; 99th percentile of the deviation from 10 ms | $(echo "$lago_gap" | field gap-median) ms; $(echo "$lago_gap" | field deviation-p99) ms | $(echo "$ping_gap" | field gap-median) ms; $(echo "$ping_gap" | field deviation-p99) ms | ≤ 0.3 ms, no worse than ping |
| 1000 requests at 10 ms, first to last | $(echo "$lago_gap" | field span-1000) ms | $(echo "$ping_gap" | field span-1000) ms | 9990 ± 5 ms |
| median round trip, peer holding 5 / 50 / 500 ms, other core busy | ${rtt[lago5]} / ${rtt[lago50]} / ${rtt[lago500]} ms | ${rtt[ping5]} / ${rtt[ping50]} / ${rtt[ping500]} ms | within 0.5 ms of ping |
| instructions per request at 100 / 10 ms, graph full (callgrind) | $(echo "${instr[100]}" | head -1) / $(echo "${instr[10]}" | head -1) | — | ≤ 110,000 / ≤ 60,000 |
| the same with a tray and a notification server | $(echo "${instr[tray100]}" | head -1) / $(echo "${instr[tray10]}" | head -1) | — | — |
| CPU per host request at 100 ms through a router: gateway watched / host on the link | $(nth "${routed[cpubeyond]}" 2) µs / $(nth "${routed[cpuonlink]}" 2) µs ($(ratio "${routed[cpubeyond]}" "${routed[cpuonlink]}")×) | — | ≤ 1.6× |
| instructions per host request at 100 ms, the same | ${routed[instrbeyond]} / ${routed[instronlink]} ($(awk -v a="${routed[instrbeyond]}" -v b="${routed[instronlink]}" 'BEGIN {printf "%.2f", a / b}')×) | — | ≤ 1.6× |
| window painted after exec (median of 3) | ${mapped} ms | — | keep |
| resident memory after 20 s at 10 ms / 100 ms | ${rss[lago10]} / ${rss[lago100]} MB | ${rss[ping10]} / ${rss[ping100]} MB | ≤ 40 MB, no growth (scripts/soak.sh) |
TABLE
for interval in 100 10; do
    printf '\nWhere the instructions go at %s ms (self cost, top five):\n\n' "$interval"
    echo "${instr[$interval]}" | tail -n +2 | sed 's/^/    /'
done
rm -f "$out" "$out.peer"

#!/usr/bin/env bash
# Soak: the real window under Xvfb pings 127.0.0.1 at the 10 ms interval for
# the given minutes (default 2) inside a namespace of its own, sampling the
# process's resident memory, its open descriptors and the echo requests that
# reached the namespace's kernel. Fails if memory grows by more than 1 MB
# after the first minute, if descriptors grow, or if the requests fall more
# than 1 % short of what the interval implies. Needs root.
set -euo pipefail
cd "$(dirname "$0")/.."
minutes=${1:-2}
scripts/deps.sh test
scripts/build.sh ci >/dev/null
cmake --build --preset ci --target lagoscope-bench-window >/dev/null

source scripts/lib/lab.sh
ns="lagoscope-soak-$$"
lab_namespace "$ns"
kernel_echo 1 "$ns"
window="build-ci/bench/lagoscope-bench-window 10 $((minutes * 60 + 60)) 127.0.0.1"
at_exit 'pkill -f "^$window"'

ip netns exec "$ns" xvfb-run -a -s "-screen 0 640x240x24" $window >/dev/null &
pid=$(wait_for_process -f "^$window") || { echo "soak: the window did not start"; exit 1; }

alive() { [ -d "/proc/$pid" ] || { echo "FAILED: the window exited before the soak ended"; exit 1; }; }
rss() { awk '/^VmRSS:/ {print $2}' "/proc/$pid/status"; }
fds() { ls "/proc/$pid/fd" | wc -l; }
now() { date +%s.%N; }

sleep 5
t0=$(now) e0=$(echo_requests "$ns")
sleep 55
alive
rss1=$(rss) fds1=$(fds)
echo "after 1 min: RSS ${rss1} kB, ${fds1} descriptors"
end=$(($(date +%s) + (minutes - 1) * 60))
while [ "$(date +%s)" -lt "$end" ]; do
    sleep 30
    alive
    echo "  RSS $(rss) kB, $(fds) descriptors, $(($(echo_requests "$ns") - e0)) requests"
done
alive
t1=$(now) e1=$(echo_requests "$ns") rss2=$(rss) fds2=$(fds)
requests=$((e1 - e0))
expected=$(awk -v a="$t0" -v b="$t1" 'BEGIN {printf "%d", (b - a) * 100}')
echo "after $minutes min: RSS ${rss2} kB ($((rss2 - rss1)) kB since minute 1), ${fds2} descriptors"
echo "requests: $requests of $expected the interval implies"
status=0
[ $((rss2 - rss1)) -le 1024 ] || { echo "FAILED: memory grew"; status=1; }
[ "$fds2" -le "$fds1" ] || { echo "FAILED: descriptors grew"; status=1; }
[ $((requests * 100)) -ge $((expected * 99)) ] || { echo "FAILED: requests fell short"; status=1; }
[ $status -eq 0 ] && echo "soak passed"
exit $status

#!/usr/bin/env bash
# Builds the fuzz targets (clang, AddressSanitizer, UndefinedBehaviorSanitizer)
# and runs each for the given seconds (default 60), all at once, from the
# seed corpora in tests/fuzz/corpus. Fails on any crash or sanitizer report.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
scripts/deps.sh full
cmake --preset fuzz -G Ninja >/dev/null
cmake --build --preset fuzz

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
status=0
pids=()
for target in icmp read_number route; do
    mkdir -p "$work/$target"
    # New inputs go to the scratch corpus; the seeds in the repository stay.
    build-fuzz/tests/fuzz/fuzz_$target -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
        -print_final_stats=1 -artifact_prefix="$work/$target-" \
        "$work/$target" "tests/fuzz/corpus/$target" >"$work/$target.log" 2>&1 &
    pids+=($!)
done
i=0
for target in icmp read_number route; do
    if wait "${pids[$i]}"; then result=ok; else result=FAILED; status=1; fi
    runs=$(grep -o 'stat::number_of_executed_units: *[0-9]*' "$work/$target.log" | grep -o '[0-9]*$' || true)
    cov=$(grep -o 'cov: [0-9]*' "$work/$target.log" | tail -n 1 || true)
    echo "fuzz_$target: $result, ${runs:-?} inputs in ${seconds} s, ${cov:-cov: ?} edges"
    if [ "$result" = FAILED ]; then
        tail -n 40 "$work/$target.log"
        ls "$work"/$target-* 2>/dev/null | head
    fi
    i=$((i + 1))
done
exit $status

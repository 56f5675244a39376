#!/usr/bin/env bash
# Builds a preset (ci, asan) and runs its tests, three at a time, passing any
# further arguments to ctest. Without them, the longest test (a scripted
# host's slow and lossy spells: two minutes, mostly of waiting) starts as
# soon as it is built and runs while the rest is built and tested.
set -euo pipefail
cd "$(dirname "$0")/.."
preset=$1
shift
cmake --preset "$preset" -G Ninja >/dev/null
if [ $# -gt 0 ]; then
    cmake --build --preset "$preset"
    exec ctest --preset "$preset" "$@"
fi
longest=test_line_notices
cmake --build --preset "$preset" --target "$longest"
early_log=$(mktemp)
trap 'rm -f "$early_log"' EXIT
ctest --preset "$preset" -R "^$longest\$" >"$early_log" 2>&1 &
early=$!
status=0
if cmake --build --preset "$preset"; then
    ctest --preset "$preset" -E "^$longest\$" || status=$?
else
    status=1
fi
wait "$early" || status=1
cat "$early_log"
exit "$status"

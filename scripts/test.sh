#!/usr/bin/env bash
# Installs what is missing, builds with warnings as errors and runs every
# test. With --full, also what CI checks on every change: the suite again
# under AddressSanitizer and UndefinedBehaviorSanitizer (a clang build),
# clang-tidy, each fuzzer for 60 s, a 2-minute soak, the Debian package
# installed, used and removed on this machine (root), and Lagoscope for
# Windows built (with its Qt, on a machine's first run) and run under Wine.
# With --full every stage runs, and the last line counts the stages passed.
set -euo pipefail
cd "$(dirname "$0")/.."
full=false
if [ "${1:-}" = --full ]; then
    full=true
    shift
fi

if $full; then
    # On a machine's first run, Qt for Windows takes half an hour of both
    # cores to build. It builds from here on, at idle priority, on what the
    # installs and the Linux stages leave unused, and the Windows stage waits
    # for it. With its cache in place it takes a second. Its packages and its
    # source come first, as apt-get must not run beside another apt-get.
    scripts/deps.sh windows
    scripts/windows-qt.sh --source
    # A session of its own (so that it can be stopped as a whole) is also a
    # scheduling group of its own, with a fair share beside this one unless
    # the group is lowered too.
    qt_log=$(mktemp)
    setsid sh -c 'echo 19 >/proc/self/autogroup 2>/dev/null
        exec chrt --idle 0 ionice -c 3 scripts/windows-qt.sh' >"$qt_log" 2>&1 &
    qt_build=$!
    # A build stopped for the soak takes the signal once it is continued.
    trap '{ kill -- -"$qt_build"; kill -CONT -- -"$qt_build"; } 2>/dev/null || true
        rm -f "$qt_log"' EXIT
    scripts/deps.sh full
else
    scripts/deps.sh test
fi
if ! $full; then
    printf '\n== g++ build and tests (%s)\n' "$(date +%T)"
    status=0
    scripts/suite.sh ci "$@" || status=$?
    if [ "$(id -u)" -ne 0 ]; then
        root_only=$(ctest --preset ci -N -L root | sed -n 's/^Total Tests: //p')
        echo "Skipped: $root_only tests that need root for their network namespaces" \
            "(they ping real sockets); run them with: sudo scripts/test.sh"
    fi
    exit "$status"
fi

# The soak counts the requests the window sends, which takes a quiet machine:
# beside the Qt build, idle priority and all, it sent 96 % of them. The build
# waits meanwhile (and goes on at once where it has already finished).
quietly() {
    kill -STOP -- -"$qt_build" 2>/dev/null || true
    local status=0
    "$@" || status=$?
    kill -CONT -- -"$qt_build" 2>/dev/null || true
    return "$status"
}

windows_stage() {
    local status=0
    printf 'waiting for Qt for Windows (%s)\n' "$(date +%T)"
    wait "$qt_build" || status=$?
    cat "$qt_log"
    [ "$status" -eq 0 ] && scripts/test-windows.sh
}

passed=0
failed=()
stage() { # name command...: runs one stage and tallies it
    local name=$1
    shift
    printf '\n== %s (%s)\n' "$name" "$(date +%T)"
    if "$@"; then
        passed=$((passed + 1))
    else
        echo "FAILED stage: $name"
        failed+=("$name")
    fi
}
stage "g++ build and tests" scripts/suite.sh ci "$@"
# The benchmarks build too, warnings being errors, though only bench.sh runs them.
stage "benchmarks build" cmake --build --preset ci --target benches
stage "clang build and tests under the sanitizers" scripts/suite.sh asan "$@"
stage "clang-tidy" scripts/tidy.sh
stage "fuzzers" scripts/fuzz.sh 60
stage "soak" quietly scripts/soak.sh 2
stage "Debian package" tests/install/package-test.sh
stage "Lagoscope for Windows under Wine" windows_stage
printf '\n== done (%s)\n' "$(date +%T)"
[ ${#failed[@]} -eq 0 ] || printf 'failed: %s\n' "${failed[@]}"
echo "stages: $passed passed, ${#failed[@]} failed"
[ ${#failed[@]} -eq 0 ]

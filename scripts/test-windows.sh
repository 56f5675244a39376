#!/usr/bin/env bash
# Cross-builds the echo engine's Windows channel with mingw-w64 and runs its
# console test under Wine, inside a network namespace of its own, against
# that namespace's 127.0.0.1 (and ::1 where Wine has ICMPv6 echo): replies
# from the kernel, replies a scripted responder holds for a known time, and
# timeouts when nothing answers. Nothing leaves the namespace. Also compiles
# the rest of the program for Windows against Qt's headers (Debian has no
# Qt for Windows to link with). Needs root; installs mingw-w64 and Wine from
# Debian when they are missing. Ends with "N passed, M failed".
set -u
cd "$(dirname "$0")/.."
exe=build-windows/tests/windows/test_icmp_api_channel.exe
host=build-ci/tests/answering_host

if [ "${1:-}" != --inside ]; then
    if [ "$(id -u)" -ne 0 ]; then
        echo "SKIP: network namespaces need root"
        exit 77
    fi
    set -e
    scripts/deps.sh windows
    scripts/build.sh windows-engine
    # The answering host is a Linux program; it shares the g++ build.
    cmake --preset ci -G Ninja >/dev/null
    cmake --build --preset ci --target answering_host
    WINEPREFIX=$(mktemp -d)
    export WINEPREFIX WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
    trap 'rm -rf "$WINEPREFIX"' EXIT
    # Wine's first start sets up its prefix; it must end before the test, so
    # that every Wine process of the test (the ICMP work happens in one of
    # them) starts inside the namespace.
    start=$(date +%s%N)
    wine wineboot --init >/dev/null 2>&1
    wineserver --wait
    echo "Wine prefix set up in $((($(date +%s%N) - start) / 1000000)) ms"
    set +e
    tests/echo/in-netns.sh "$0" --inside
    exit $?
fi

# Inside the namespace from here on; it switches the kernel's echo replies.
if [ -z "${LAGOSCOPE_PEER_NS:-}" ]; then
    echo "--inside runs only in the namespace that tests/echo/in-netns.sh makes"
    exit 2
fi
. tests/checks.sh
kernel_echo() { sysctl -qw net.ipv4.icmp_echo_ignore_all="$((1 - $1))"; }

# Runs one mode of the console test and tallies its checks; 77 is a skip.
mode() {
    local out rc passed failed
    out=$(timeout 120 wine "$exe" "$@" 2>&1 | tr -d '\r'; exit "${PIPESTATUS[0]}")
    rc=$?
    printf '%s\n' "$out" | sed "s/^/[$*] /"
    [ "$rc" -eq 77 ] && return
    passed=$(grep -c '^ok:' <<<"$out")
    failed=$(grep -c '^FAILED:' <<<"$out")
    if [ "$rc" -ne 0 ] && [ "$failed" -eq 0 ]; then
        echo "FAILED: [$*] exited with $rc"
        failed=1
    fi
    if [ "$passed" -eq 0 ] && [ "$failed" -eq 0 ]; then
        echo "FAILED: [$*] ran no check"
        failed=1
    fi
    checks=$((checks + passed + failed))
    fails=$((fails + failed))
}

echoes() { awk "$in_echos" /proc/net/snmp; }

kernel_echo 1
before=$(echoes)
mode kernel
check "the 13 requests (one to start Wine's ICMP service) reached this namespace's kernel" \
    '[ "$(($(echoes) - before))" -eq 13 ]'

# answered_by SCRIPT MODE...: runs a mode while the answering host follows
# SCRIPT ("hold MS" or "unreachable").
answered_by() {
    local script=$1 answering
    shift
    # shellcheck disable=SC2086 # the script is words for the host
    "$host" $script 60 &
    answering=$!
    sleep 0.5
    mode "$@"
    kill "$answering"
    wait "$answering" 2>/dev/null
}

kernel_echo 0
answered_by "hold 80" held 80
answered_by unreachable unreachable
mode silent
kernel_echo 1
mode v6

# The Qt side for Windows (the window, the graph and the engine's ties to the
# event loop), with the same warnings as errors.
compile_for_windows() {
    local qt source
    qt=$(qmake6 -query QT_INSTALL_HEADERS)
    for source in app/*.cpp lag/*.cpp echo/*.cpp echo/windows/*.cpp; do
        x86_64-w64-mingw32-g++-posix -std=c++20 -fsyntax-only -Wall -Wextra -Wpedantic -Werror \
            -D_WIN32_WINNT=0x0A00 -DNOMINMAX -isystem "$qt" -isystem "$qt/QtCore" \
            -isystem "$qt/QtGui" -isystem "$qt/QtWidgets" -Iapp -Ilag -Iecho -Iecho/windows \
            "$source" || return 1
    done
}
check "the program's Qt code compiles for Windows against Qt's headers" compile_for_windows

wineserver --kill
wineserver --wait
summary

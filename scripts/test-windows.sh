#!/usr/bin/env bash
# Lagoscope for Windows, under Wine, inside a network namespace of its own:
# nothing leaves it. Cross-builds with mingw-w64 the echo engine's Windows
# channel and its console test, and the whole program against a Qt built
# from Debian's source (scripts/package-windows.sh, which also makes the zip
# and the installer). Then, under Wine on an Xvfb display:
# - the channel's console test against the namespace's 127.0.0.1 (and ::1
#   where Wine has ICMPv6 echo): replies from the kernel, replies a
#   scripted responder holds for a known time, and timeouts;
# - the program's own tests of the window, host box, statistics, history,
#   graph and number texts;
# - the real program: its window at its size, pinging 127.0.0.1, the graph,
#   Stop and closing;
# - the installer: a silent install, the installed program run, a silent
#   uninstall that leaves nothing behind.
# Needs root; installs what is missing from Debian. Ends with
# "N passed, M failed".
set -u
cd "$(dirname "$0")/.."
HOME=${HOME:-$(getent passwd "$(id -u)" | cut -d: -f6)} # where Qt for Windows is kept
export HOME
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
    scripts/package-windows.sh
    # The answering host is a Linux program; it shares the g++ build.
    cmake --preset ci -G Ninja >/dev/null
    cmake --build --preset ci --target answering_host
    WINEPREFIX=$(mktemp -d)
    # No menu entries on this machine for what the installer adds.
    export WINEPREFIX WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
    # Xvfb picks a display number nothing else uses and says which: a
    # number picked at random here met another test's server now and then.
    display_file=$(mktemp)
    Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$display_file" >/dev/null 2>&1 &
    xvfb=$!
    trap 'kill "$xvfb" 2>/dev/null; rm -rf "$WINEPREFIX" "$display_file"' EXIT
    for _ in $(seq 100); do
        [ -s "$display_file" ] && break
        sleep 0.05
    done
    DISPLAY=":$(cat "$display_file")"
    export DISPLAY
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


kernel_echo 1
before=$(echo_requests)
mode kernel
check "the 13 requests (one to start Wine's ICMP service) reached this namespace's kernel" \
    '[ "$(($(echo_requests) - before))" -eq 13 ]'

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
# The gateway watch's question, as GetBestRoute2 answers it (where Wine
# implements it): a route through the peer, and hosts on the link and here.
ip route add 198.51.100.0/24 via 198.18.0.2
mode route 198.51.100.7 198.18.0.2
mode route 198.18.0.2 none
mode route 127.0.0.1 none

# The program's own tests, with the DLLs and plugins the package holds.
package=build-windows-app/package/Lagoscope
tests=build-windows-app/tests
cp -r "$package"/*.dll "$package/platforms" "$package/styles" "$tests/"
qt_test() { # name [environment...]: one test program, its result file read
    local name=$1 result
    shift
    result=$(mktemp)
    # QTest's own output would vanish into Wine's pipe: it writes a file.
    env QT_QPA_PLATFORM=windows "$@" timeout 300 wine "$tests/$name.exe" -o "$result,txt" \
        >/dev/null 2>&1
    grep -E '^(FAIL|Totals)' "$result"
    grep -q '^Totals: [0-9]* passed, 0 failed' "$result"
}
cp "$HOME/.cache/lagoscope/qt6-windows/bin/Qt6Test.dll" "$tests/"
# Every test the build names portable.
while read -r name; do
    check "$name.exe under Wine" "qt_test $name"
done <build-windows-app/portable-tests.txt
check "test_window.exe under Wine on a screen scaled to twice the size" \
    "qt_test test_window QT_SCALE_FACTOR=2"

# What the program says before any window, with the same exit codes as on
# Linux. It is of the GUI kind, so Windows gives it no console: it writes
# where its caller redirected it, else to the console it attaches to, else
# (started from Explorer) in a message box. Wine hands a GUI program its
# caller's output anyway, so the executable itself is checked too.
program=build-windows-app/package/Lagoscope/lagoscope.exe
headers=$(mktemp)
x86_64-w64-mingw32-objdump -p "$program" >"$headers"
imports_all() { local f; for f in "$@"; do grep -qw "$f" "$headers" || return 1; done; }
check "lagoscope.exe is a GUI program" "grep -q 'Subsystem.*Windows GUI' '$headers'"
check "it attaches to its caller's console, writes to it, or shows a message box" \
    "imports_all GetStdHandle AttachConsole WriteConsoleW MessageBoxW"
said_file=$(mktemp)
said() { # expected-exit-code words...: runs the program, what it said in $said_file
    local expected=$1
    shift
    timeout 30 wine "$program" "$@" 2>&1 | tr -d '\r' >"$said_file"
    [ "${PIPESTATUS[0]}" -eq "$expected" ]
}
check "--version prints the version, exit 0" "said 0 --version && grep -qx 'lagoscope 1.01' '$said_file'"
check "--help prints the usage, exit 0" "said 0 --help && grep -q '^usage: lagoscope \[host\]' '$said_file'"
check "an unknown option is named with the usage, exit 2" \
    "said 2 -t host && grep -q 'unknown option -t' '$said_file' && grep -q '^usage:' '$said_file'"
check "a redirection in cmd gets the version" \
    "wine cmd /c '${program//\//\\} --version > version.txt' >/dev/null 2>&1 && tr -d '\r' <version.txt | grep -qx 'lagoscope 1.01'"
rm -f version.txt "$said_file" "$headers"
# Started the way Explorer starts it: no console and nothing redirected.
message_box() {
    local started box rc
    timeout 60 wine start /wait /unix "$PWD/$program" -t host >/dev/null 2>&1 &
    started=$!
    box=$(timeout 20 xdotool search --sync --name '^Lagoscope$' | head -1)
    [ -n "$box" ] || { kill "$started"; return 1; }
    screenshot "$box" unknown-option-box
    xdotool key --window "$box" Return
    wait "$started"
    rc=$?
    [ "$rc" -eq 2 ]
}

# The real program, as a user starts it.
# The program's window, looked for up to 30 s. Each look walks the window
# tree, and xdotool gives up on an X error when a window goes away during
# the walk (the installer's, say), so it looks again rather than --sync.
window_of() {
    local _ found
    for _ in $(seq 60); do
        found=$(xdotool search --name '^Lagoscope for Windows' 2>/dev/null | head -1)
        [ -n "$found" ] && echo "$found" && return
        sleep 0.5
    done
}
green_in_graph() { # window: the graph band holds green bars
    xwd -id "$1" -silent | convert xwd:- -crop 376x41+9+64 txt:- | grep -qi '#00C000'
}
screenshot() { xwd -id "$1" -silent | convert xwd:- "build-windows-app/package/$2.png"; }
rises() { local a; a=$(echo_requests); sleep 1; [ "$(echo_requests)" -gt "$a" ]; }
still() { local a; a=$(echo_requests); sleep 1; [ "$(echo_requests)" -eq "$a" ]; }
ended() { # pid: gone within 10 s
    local _
    for _ in $(seq 50); do
        kill -0 "$1" 2>/dev/null || return 0
        sleep 0.2
    done
    return 1
}
# run_program EXE NAME: starts it on 127.0.0.1, checks it pings, stops and
# closes it; screenshots are named after NAME.
# The panel's tray holds an icon that Wine docked there (a window of its
# explorer), showing green bars. Docking and the first redraw go through
# Wine's explorer and the panel, so it is looked for up to 15 s; a failure
# says the last step reached.
icon_in_tray() {
    local _ panel geometry seen
    for _ in $(seq 30); do
        seen="no trayer panel"
        panel=$(xwininfo -root -tree | awk '/"panel": \("panel" "trayer"\)/ {print $1; exit}')
        if [ -n "$panel" ]; then
            seen="no window of explorer.exe docked in the panel"
            if xwininfo -id "$panel" -tree | grep -q '"explorer.exe"'; then
                geometry=$(xwininfo -id "$panel" | awk '/Absolute upper-left X/ {x = $NF}
                    /Absolute upper-left Y/ {y = $NF} /Width/ {w = $NF} /Height/ {h = $NF}
                    END {print w "x" h "+" x "+" y}')
                seen="an icon docked, no green in the panel at $geometry"
                xwd -root -silent | convert xwd:- -crop "$geometry" txt:- | grep -qi '#00C000' &&
                    return 0
            fi
        fi
        sleep 0.5
    done
    echo "after 15 s: $seen"
    return 1
}
run_program() {
    local exe=$1 name=$2 program window
    wine "$exe" 127.0.0.1 >/dev/null 2>&1 &
    program=$!
    window=$(window_of)
    # Without a window there is nothing to look at (and xwininfo would wait
    # for a click): one failed check, and the program goes.
    if [ -z "$window" ]; then
        check "$name: the window appears" false
        kill "$program" 2>/dev/null
        wineserver --kill
        return
    fi
    echo "$name: the window's title as Wine gave it to X: $(xdotool getwindowname "$window")"
    check "$name: its title is the caption, with nothing appended" \
        "[ \"\$(xdotool getwindowname '$window')\" = 'Lagoscope for Windows! Version 1.01' ]"
    check "$name: the window appears at 397x109" \
        "xwininfo -id '$window' | grep -q 'Width: 397' && xwininfo -id '$window' | grep -q 'Height: 109'"
    sleep 3
    check "$name: it pings 127.0.0.1 and the kernel answers" rises
    check "$name: the graph shows green bars" "green_in_graph '$window'"
    check "$name: its icon is in the tray, with green bars" icon_in_tray
    screenshot "$window" "$name-pinging"
    xdotool key --window "$window" Return
    sleep 0.5
    check "$name: Enter in the host box stops the sending" still
    screenshot "$window" "$name-stopped"
    xdotool key --window "$window" alt+F4
    check "$name: closing the window ends the program" "ended $program"
}
check "started from Explorer, an unknown option shows the usage in a message box, exit 2" \
    message_box

kernel_echo 1
# A panel with a system tray, as the desktop has one.
trayer --edge bottom --align right --widthtype request --height 24 --transparent false \
    >/dev/null 2>&1 &
tray=$!
sleep 1
run_program "$package/lagoscope.exe" lagoscope

# The installer, silently, for this user alone; then the uninstaller.
setup=$(ls build-windows-app/package/lagoscope-*-windows-x64-setup.exe)
user_dir=$(ls -d "$WINEPREFIX"/drive_c/users/*/AppData | head -1)
installed=$user_dir/Local/Programs/Lagoscope
shortcut="$user_dir/Roaming/Microsoft/Windows/Start Menu/Programs/Lagoscope.lnk"
uninstall_key='HKCU\Software\Microsoft\Windows\CurrentVersion\Uninstall\Lagoscope'
wine "$setup" /S >/dev/null 2>&1
wineserver --wait
check "the installer puts the program in the user's Programs folder" "[ -f '$installed/lagoscope.exe' ]"
check "the installer adds a Start-menu shortcut" "[ -f '$shortcut' ]"
check "the installer registers its uninstaller" "wine reg query '$uninstall_key' >/dev/null 2>&1"
run_program "$installed/lagoscope.exe" installed
wine "$installed/Uninstall.exe" /S >/dev/null 2>&1
wineserver --wait
check "the uninstaller leaves no folder, shortcut or registry entry" \
    "[ ! -e '$installed' ] && [ ! -e '$shortcut' ] && ! wine reg query '$uninstall_key' >/dev/null 2>&1"

# The MSI, as an administrator deploys it: per machine, silently; then a
# later version over it, and the uninstall.
msi=$(ls build-windows-app/package/lagoscope-*-windows-x64.msi)
machine_dir="$WINEPREFIX/drive_c/Program Files/Lagoscope"
arp() { wine reg query 'HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall' /s 2>/dev/null | tr -d '\r'; }
# Wine puts a per-machine shortcut in the user's Start menu; Windows in the common one.
msi_shortcut() { find "$WINEPREFIX/drive_c" -path '*Start Menu/Programs/Lagoscope.lnk' | grep -q .; }
wine msiexec /i "$msi" /qn /l*v msi-install.log >/dev/null 2>&1
wineserver --wait
grep -E 'Action ended [0-9:]+: (InstallFinalize|INSTALL)\.' msi-install.log
check "the MSI installs the program for every user in Program Files" \
    "[ -f '$machine_dir/lagoscope.exe' ] && [ -f '$machine_dir/platforms/qwindows.dll' ]"
check "the MSI adds a Start-menu shortcut" msi_shortcut
check "Apps & features lists it with its version and publisher" \
    "arp | grep -q 'DisplayName    REG_SZ    Lagoscope' && arp | grep -q 'DisplayVersion    REG_SZ    1.01' && arp | grep -q 'Publisher    REG_SZ    The Lagoscope developers'"
run_program "$machine_dir/lagoscope.exe" msi
later=$(mktemp -d)/lagoscope-later.msi
(cd build-windows-app/package && find Lagoscope -type f ! -name lagoscope.exe | sort) |
    wixl-heat --prefix Lagoscope/ --directory-ref INSTALLDIR --component-group Files \
        --var var.SourceDir | sed 's/<Component /<Component Win64="yes" /' >"$later.files.wxs"
wixl -a x64 -D Version=1.99 -D SourceDir=build-windows-app/package/Lagoscope \
    -D Icon=data/icons/lagoscope.ico -o "$later" data/windows/lagoscope.wxs "$later.files.wxs"
wine msiexec /i "$later" /qn >/dev/null 2>&1
wineserver --wait
check "a later version upgrades it in place: one entry, the new version" \
    "[ \"\$(arp | grep -c 'DisplayName    REG_SZ    Lagoscope')\" -eq 1 ] && arp | grep -q 'DisplayVersion    REG_SZ    1.99'"
wine msiexec /x "$later" /qn /l*v msi-uninstall.log >/dev/null 2>&1
wineserver --wait
grep -E 'Action ended [0-9:]+: (InstallFinalize|INSTALL)\.' msi-uninstall.log
check "the MSI's uninstall leaves no file, shortcut or registry entry" \
    "[ ! -e '$machine_dir' ] && ! msi_shortcut && ! arp | grep -q 'Lagoscope'"
rm -rf "$(dirname "$later")" msi-install.log msi-uninstall.log

kill "$tray"
wineserver --kill
wineserver --wait
summary

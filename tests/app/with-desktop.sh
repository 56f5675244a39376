#!/usr/bin/env bash
# Runs a test on a desktop of its own: an Xvfb display and a private D-Bus
# session bus, both gone at exit. The test starts the desktop's services
# itself (a tray, a notification server), as a panel would start them.
# Skips (77) where Xvfb or dbus-daemon is missing.
set -u
for tool in Xvfb dbus-daemon; do
    if ! command -v "$tool" >/dev/null; then
        echo "SKIP: $tool is not installed (scripts/deps.sh test installs it)"
        exit 77
    fi
done
home=$(mktemp -d)
pids=()
trap 'kill "${pids[@]}" 2>/dev/null; wait 2>/dev/null; rm -rf "$home"' EXIT

# Xvfb picks a display number nothing else uses and says which.
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$home/display" >/dev/null 2>&1 &
pids+=($!)
for _ in $(seq 100); do
    [ -s "$home/display" ] && break
    sleep 0.05
done
export DISPLAY=":$(cat "$home/display")"

address=$(dbus-daemon --session --fork --print-address=1 --print-pid=2 --address="unix:path=$home/bus" 2>"$home/bus.pid")
pids+=("$(cat "$home/bus.pid")")
export DBUS_SESSION_BUS_ADDRESS=$address HOME=$home XDG_RUNTIME_DIR=$home
export XDG_CONFIG_HOME=$home/config QT_QPA_PLATFORM=xcb
unset WAYLAND_DISPLAY
"$@"

#!/usr/bin/env bash
# Installs what is missing, builds the program (nothing else), and opens the
# window. Any arguments form the host text, as on the program's own command
# line.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
cmake --preset default -G Ninja >/dev/null
cmake --build --preset default --target lagoscope
binary=build/app/lagoscope

# getcap and setcap live in /usr/sbin, which an ordinary user's PATH lacks.
PATH="$PATH:/usr/sbin:/sbin"
allowed_without_capability() {
    local low high
    read -r low high </proc/sys/net/ipv4/ping_group_range
    for group in $(id -G); do
        [ "$group" -ge "$low" ] && [ "$group" -le "$high" ] && return 0
    done
    return 1
}
if [ "$(id -u)" -ne 0 ] && ! allowed_without_capability &&
    ! getcap "$binary" 2>/dev/null | grep -q cap_net_raw; then
    echo "Granting $binary the capability to open ICMP sockets (cap_net_raw+p), through sudo."
    # Without it the window still opens, and says on standard error how to
    # allow pinging.
    sudo setcap cap_net_raw+p "$binary" || echo "Could not grant it; starting without."
fi
# With no display at all (a server, a container), a virtual one.
if [ -z "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
    echo "No display: the window opens on a virtual one (xvfb-run), where nobody sees it."
    exec xvfb-run -a "$binary" "$@"
fi
exec "$binary" "$@"

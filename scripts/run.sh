#!/usr/bin/env bash
# Installs what is missing, builds, and opens the window. Any arguments form
# the host text, as on the program's own command line.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
scripts/build.sh default
binary=build/app/lagoscope

if [ "$(id -u)" -ne 0 ] && ! getcap "$binary" | grep -q cap_net_raw; then
    echo "Granting $binary the capability to open ICMP sockets (cap_net_raw+p), through sudo."
    sudo setcap cap_net_raw+p "$binary"
fi
exec "$binary" "$@"

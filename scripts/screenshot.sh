#!/usr/bin/env bash
# Takes docs/screenshot.png: the real window under Xvfb, pinging a scripted
# host inside a private network namespace for about 40 seconds. Needs root.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
dpkg-query -W imagemagick >/dev/null 2>&1 || sudo apt-get install -y -qq imagemagick
scripts/build.sh ci

source scripts/lib/lab.sh
ns="lagoscope-shot-$$"
lab_namespace "$ns"
kernel_echo 0 "$ns"

ip netns exec "$ns" xvfb-run -a -s "-screen 0 640x240x24" bash -c '
    build-ci/tests/scripted_host 50 &
    build-ci/app/lagoscope 127.0.0.1 &
    sleep 42
    id=$(xwininfo -root -tree | awk "/Lagoscope for Windows/ {print \$1; exit}")
    import -window "$id" docs/screenshot.png
    kill %2 %1'
echo "docs/screenshot.png written"

#!/usr/bin/env bash
# Takes docs/tray/: the tray icon in an XEmbed tray (trayer) at 1x and 2x,
# pinging a scripted host that answers, then falls silent, then answers
# again, and stopped; and the two notifications as dunst shows them. The
# real program, under Xvfb on a private session bus, inside a private
# network namespace. Needs root.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh test
dpkg-query -W imagemagick >/dev/null 2>&1 || apt-get install -y -qq imagemagick xdotool
scripts/build.sh ci
mkdir -p docs/tray

source scripts/lib/lab.sh
ns="lagoscope-tray-$$"
lab_namespace "$ns"
kernel_echo 0 "$ns"

shoot() { # SCALE: one run, its pictures named after the scale
    ip netns exec "$ns" tests/app/with-desktop.sh bash -c '
        scale=$1 out=docs/tray
        height=$((24 * scale))
        dunst -conf /dev/null >/dev/null 2>&1 &
        trayer --edge bottom --align right --widthtype request --height "$height" \
            --transparent false >/dev/null 2>&1 &
        sleep 1
        tray() { import -window root -gravity southeast -crop "$((40 * scale))x${height}+0+0" +repage "$out/$1-${scale}x.png"; }
        build-ci/tests/scripted_host 6 &
        QT_SCALE_FACTOR=$scale build-ci/app/lagoscope 127.0.0.1 >/dev/null 2>&1 &
        program=$!
        sleep 5
        tray healthy
        sleep 3.6 # the host falls silent at 6 s; its requests time out 2 s later
        tray losing
        sleep 2
        import -window root -gravity northeast -crop "$((420 * scale))x$((120 * scale))+0+0" +repage "$out/stopped-answering-${scale}x.png"
        build-ci/tests/scripted_host 10 &
        sleep 2.5
        import -window root -gravity northeast -crop "$((420 * scale))x$((120 * scale))+0+0" +repage "$out/answers-again-${scale}x.png"
        xdotool search --name "^Lagoscope for Windows" key Return
        sleep 1.5
        tray stopped
        kill $program %1 %2 %4 2>/dev/null || true
    ' shoot "$1"
}
shoot 1
shoot 2
ls -l docs/tray

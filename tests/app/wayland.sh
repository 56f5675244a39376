#!/usr/bin/env bash
# The program on Wayland: weston headless (the pixman renderer, no GPU) at
# output scale 1 and 2, the real program pinging this namespace's loopback,
# and weston's own screenshot of it. The graph's marks must show in the
# graph's green, as many rows thick as the scale, with no blended green
# beside them: drawn by the program at the output's scale, not scaled up
# by the compositor, which would blur every edge, the text's too. The
# window's title and app id are what weston was asked for, with nothing
# appended.
# Run by in-netns.sh; the screenshots stay in the build folder.
set -u
program=$1
shots=$2
command -v weston >/dev/null || { echo "SKIP: weston is not installed"; exit 77; }
. "$(dirname "$0")/../checks.sh"

# The bottom row of the graph's green, where the marks of 0 ms replies stand:
# "run thickness blended" for the longest run of it.
marks() {
    convert "$1" txt:- | awk -F'[ ,:()]+' 'NR > 1 {
            key = $1 "," $2
            exact[key] = $6 == "#00C000"
            greenish[key] = !exact[key] && $4 >= $3 + 60 && $4 >= $5 + 60
            if (exact[key] && $2 > bottom) bottom = $2
        }
        END {
            for (x = 0; x < 4000; ++x)
                if (exact[x "," bottom]) { if (++len > best) { best = len; end = x } } else len = 0
            start = end - best + 1
            for (y = bottom; exact[start "," y]; --y) ++thick
            for (x = start - 2; x <= end + 2; ++x)
                for (y = bottom - thick - 1; y <= bottom + 1; ++y)
                    blended += greenish[x "," y]
            print best + 0, thick + 0, blended + 0
        }'
}

# requested REQUEST DUMP: the arguments of every toplevel's REQUEST in weston's
# protocol dump, each different one once.
requested() {
    grep -ao "xdg_toplevel@[0-9]*\.$1(\"[^\"]*\")" "$2" | sed 's/^[^(]*//' | sort -u
}

for scale in 1 2; do
    runtime=$(mktemp -d)
    chmod 700 "$runtime"
    export XDG_RUNTIME_DIR=$runtime
    weston --backend=headless-backend.so --use-pixman --width=640 --height=360 --scale="$scale" \
        --debug --socket=lagoscope-test --idle-time=0 >"$runtime/weston.log" 2>&1 &
    weston=$!
    for _ in $(seq 100); do
        [ -S "$runtime/lagoscope-test" ] && break
        sleep 0.05
    done
    # What the program asks of weston, as weston's own protocol dump records it.
    WAYLAND_DISPLAY=lagoscope-test weston-debug proto >"$runtime/proto.log" 2>&1 &
    dump=$!
    sleep 0.5
    WAYLAND_DISPLAY=lagoscope-test QT_QPA_PLATFORM=wayland "$program" 127.0.0.1 >/dev/null 2>&1 &
    pinging=$!
    sleep 4
    kill "$dump" 2>/dev/null
    wait "$dump" 2>/dev/null
    title=$(requested set_title "$runtime/proto.log")
    echo "scale $scale: the window's title as weston got it: $title"
    check "scale $scale: its title is the caption, with nothing appended" \
        "[ '$title' = '(\"Lagoscope for Windows! Version 1.01\")' ]"
    check "scale $scale: its app id is its desktop entry's" \
        "[ '$(requested set_app_id "$runtime/proto.log")' = '(\"org.lagoscope.Lagoscope\")' ]"
    (cd "$runtime" && WAYLAND_DISPLAY=lagoscope-test timeout 10 weston-screenshooter)
    shot=$(ls "$runtime"/wayland-screenshot-*.png 2>/dev/null | head -1)
    kill "$pinging" "$weston" 2>/dev/null
    wait "$pinging" "$weston" 2>/dev/null
    check "scale $scale: weston took a screenshot" "[ -n '$shot' ]"
    [ -n "$shot" ] || continue
    cp "$shot" "$shots/wayland-${scale}x.png"
    read -r run thick blended <<<"$(marks "$shot")"
    echo "scale $scale: a run of $run marks in the graph's green, $thick rows thick, $blended blended pixels beside it"
    check "scale $scale: the program pings and draws its marks" "[ '$run' -ge $((20 * scale)) ]"
    check "scale $scale: the marks are $scale device pixels thick, drawn at the output's scale" \
        "[ '$thick' -eq $scale ]"
    check "scale $scale: crisp, with no blended green beside them" "[ '$blended' -eq 0 ]"
    rm -rf "$runtime"
done
summary

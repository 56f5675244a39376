#!/usr/bin/env bash
# Installs the build in the given folder into a staging folder and checks
# what a desktop will read: the menu entry, the metainfo, every icon at its
# size, and the manual page.
set -u
build=$1
stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
. "$(dirname "$0")/../checks.sh"

DESTDIR="$stage" cmake --install "$build" --prefix /usr >/dev/null
root="$stage/usr/share"
id=org.lagoscope.Lagoscope
check "the program is installed" '[ -x "$stage/usr/bin/lagoscope" ]'
check "desktop-file-validate" 'desktop-file-validate "$root/applications/$id.desktop"'
check "appstreamcli validate" 'appstreamcli validate --no-net "$root/metainfo/$id.metainfo.xml"'
check "the metainfo names the licence" 'grep -q "<project_license>MIT</project_license>" "$root/metainfo/$id.metainfo.xml"'
check "the scalable icon" 'grep -q "<svg" "$root/icons/hicolor/scalable/apps/$id.svg"'
# The width and height of a PNG stand in its IHDR chunk, bytes 16 to 23.
png_size() { od -An -tu1 -j16 -N8 "$1" | awk '{print $3 * 256 + $4 "x" $7 * 256 + $8}'; }
for size in 16 32 48 64 128 256; do
    icon="$root/icons/hicolor/${size}x${size}/apps/$id.png"
    check "a ${size}x${size} PNG icon" \
        '[ "$(head -c 8 "$icon" | od -An -tx1 | tr -d " ")" = 89504e470d0a1a0a ] &&
         [ "$(png_size "$icon")" = "${size}x${size}" ]'
done
check "the manual page renders without warnings" \
    'out=$(MANWIDTH=80 man --warnings -l "$stage/usr/share/man/man1/lagoscope.1.gz" 2>&1 >/dev/null) && [ -z "$out" ]'
summary

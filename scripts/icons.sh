#!/usr/bin/env bash
# Renders the PNG icons from data/icons/lagoscope.svg, after the SVG changed.
set -euo pipefail
cd "$(dirname "$0")/../data/icons"
command -v rsvg-convert >/dev/null || sudo apt-get install -y -qq librsvg2-bin
for size in 16 32 48 64 128 256; do
    rsvg-convert -w "$size" -h "$size" lagoscope.svg -o "lagoscope-$size.png"
done

#!/usr/bin/env bash
# Renders the icon drawings (icons/*.svg) into the PNG files the program loads, since Qt reads
# PNG without extra image plugins. Needs ImageMagick; run after changing a drawing.
# Each size is drawn eight times larger and scaled down, which keeps 1-pixel lines sharp.
set -euo pipefail
cd "$(dirname "$0")/icons"
render() { # drawing, drawn size, wanted sizes...
    local svg=$1 drawn=$2; shift 2
    for size in "$@"; do
        convert -background none -density $((96 * size * 8 / drawn)) "MSVG:$svg" \
            -filter box -resize "${size}x${size}" -strip "PNG32:${svg%.svg}-$size.png"
    done
}
render 128.svg 256 16 32 48 256
for id in 138 139 140 141 142 143 144 145; do
    render "$id.svg" 16 16 32
done

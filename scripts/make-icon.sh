#!/bin/sh
# Draws the application icon (a bell ringing on a blue tile) with ImageMagick
# and writes it at the sizes the program and the desktop theme use:
# setup/icons/wakebell-setup-<size>.png. The PNGs are committed; run this
# only to change the drawing.
set -eu
cd "$(dirname "$0")/.."
convert=/usr/bin/convert   # ImageMagick's own, not a stand-in earlier on PATH
out=setup/icons
master=$(mktemp --suffix=.png)
trap 'rm -f "$master"' EXIT

"$convert" -size 256x256 xc:none \
    -fill '#2456a4' -stroke '#173a70' -strokewidth 4 \
    -draw 'roundrectangle 10,10 245,245 44,44' \
    -stroke none -fill '#ffffff' \
    -draw "path 'M 49,158 A 91,91 0 0,1 49,66 L 57,71 A 82,82 0 0,0 57,153 Z'" \
    -draw "path 'M 207,66 A 91,91 0 0,1 207,158 L 199,153 A 82,82 0 0,0 199,71 Z'" \
    -fill '#bcd3f5' \
    -draw "path 'M 37,176 A 111,111 0 0,1 37,48 L 43,52 A 104,104 0 0,0 43,172 Z'" \
    -draw "path 'M 219,48 A 111,111 0 0,1 219,176 L 213,172 A 104,104 0 0,0 213,52 Z'" \
    -fill '#f7c73b' -stroke '#9c6d00' -strokewidth 6 \
    -draw "path 'M 128,40 C 90,40 78,78 78,118 L 78,156 L 58,182 L 198,182 L 178,156 L 178,118 C 178,78 166,40 128,40 Z'" \
    -fill '#f7c73b' -draw 'circle 128,38 128,28' \
    -fill '#9c6d00' -stroke none -draw 'circle 128,204 128,188' \
    -fill '#ffe9a8' -draw "path 'M 100,70 C 92,84 90,104 90,124 L 98,124 C 98,104 100,86 106,74 Z'" \
    "$master"

for size in 16 22 24 32 48 64 128 256; do
    "$convert" "$master" -resize "${size}x${size}" -strip "PNG32:$out/wakebell-setup-$size.png"
done
echo "make-icon: wrote $out/wakebell-setup-{16,22,24,32,48,64,128,256}.png"

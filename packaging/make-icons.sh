#!/usr/bin/env bash
# Makes the program icons from the emblem the tool shows on its screen:
# packaging/windows/QvrUpdater.ico (16-256 px, for the .exe) and
# packaging/linux/icons/hicolor/NxN/apps/qvr-updater.png (the sizes desktops
# look for, for the menu entry and the file type).
# The results are committed; run this again only when the emblem changes.
set -euo pipefail
cd "$(dirname "$0")/.."

convert=/usr/bin/convert # ImageMagick's, not a stand-in earlier on PATH
emblem=src/resources/data/emblem.png

# Nearest-neighbour keeps the emblem's hard pixel edges at every size; the
# transparent margin makes it square without stretching.
square() # size output
{
    "$convert" "$emblem" -background none -filter point -resize "$1x$1" \
        -gravity center -extent "$1x$1" -strip "$2"
}

tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
for s in 16 24 32 48 64 128 256; do
    square "$s" "$tmp/$s.png"
done
"$convert" "$tmp"/16.png "$tmp"/24.png "$tmp"/32.png "$tmp"/48.png "$tmp"/64.png "$tmp"/256.png \
    packaging/windows/QvrUpdater.ico

rm -rf packaging/linux/icons/hicolor
for s in 16 24 32 48 64 128 256; do
    mkdir -p "packaging/linux/icons/hicolor/${s}x$s/apps"
    cp "$tmp/$s.png" "packaging/linux/icons/hicolor/${s}x$s/apps/qvr-updater.png"
done

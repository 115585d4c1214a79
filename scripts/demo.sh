#!/usr/bin/env bash
# Builds a small FAT16 volume with a few folders and files, stores it in a new image, and shows the image.
# Usage: scripts/demo.sh [BUILD_DIR]
set -euo pipefail
build=${1:-build}
zbitool="$build/cli/zbitool"
demo="$build/demo"
rm -rf "$demo"
mkdir -p "$demo/files/Documents/Letters" "$demo/files/Pictures"
printf 'Dear reader,\nthis file was restored from an image.\n' > "$demo/files/Documents/Letters/Letter to a friend.txt"
printf 'Shopping: bread, milk, tea\n' > "$demo/files/Documents/list.txt"
head -c 300000 /dev/urandom > "$demo/files/Pictures/holiday.raw"
echo "Imbrex demo" > "$demo/files/README.TXT"

export MTOOLS_SKIP_CHECK=1
mkfs.fat -C -F 16 -n "DEMO DATA" "$demo/volume.img" 32768 > /dev/null
mcopy -s -i "$demo/volume.img" "$demo/files/"* ::/

"$zbitool" create "$demo/demo.zbi" "$demo/volume.img" --compression high --name "Demo image" --comment "A FAT16 volume made by scripts/demo.sh" --force
echo "== zbitool list $demo/demo.zbi"
"$zbitool" list "$demo/demo.zbi"
echo "== zbitool info $demo/demo.zbi 1"
"$zbitool" info "$demo/demo.zbi" 1
"$zbitool" export "$demo/demo.zbi" 1 "$demo/exported.img" --force
cmp "$demo/volume.img" "$demo/exported.img" && echo "== exported partition 1 equals the original volume byte for byte"
echo "== zbitool ls $demo/demo.zbi 1 '\\Documents'"
"$zbitool" ls "$demo/demo.zbi" 1 '\Documents'
rm -rf "$demo/restored"
"$zbitool" extract "$demo/demo.zbi" 1 '\' -o "$demo/restored"
diff -r "$demo/files" "$demo/restored" && echo "== every file restored from the image equals its original"

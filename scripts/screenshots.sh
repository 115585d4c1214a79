#!/usr/bin/env bash
# Starts the editor under Xvfb on a demo image and takes screenshots of the main window, the Partition
# Properties window, a partition row dropped onto the recent image, the main window in Spanish, the copy
# options for Copy and for Span, a copy's progress window, and an insert-media prompt.
# Usage: scripts/screenshots.sh [BUILD_DIR] [OUT_DIR]
set -euo pipefail
build=$(realpath "${1:-build}")
out=$(realpath -m "${2:-$build/screenshots}")
editor="$build/app/imbrex-file-editor"
zbitool="$build/cli/zbitool"
if [ -z "${IMBREX_UNDER_XVFB:-}" ]; then
    IMBREX_UNDER_XVFB=1 exec xvfb-run -a -s "-screen 0 1024x768x24" "$0" "$build" "$out"
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$out"

export MTOOLS_SKIP_CHECK=1
mkfs.fat -C -F 16 -n "DEMO DATA" "$work/fat16.img" 32768 > /dev/null
mkfs.fat -C -F 32 -n "ARCHIVE" "$work/fat32.img" 70000 > /dev/null
echo "Imbrex demo" > "$work/README.TXT"
mcopy -i "$work/fat16.img" "$work/README.TXT" ::/
"$zbitool" create "$work/demo.zbi" "$work/fat16.img" "$work/fat32.img" --name "Demo image" \
    --comment "A FAT16 and a FAT32 volume made by scripts/screenshots.sh" --compression low --force

# Random bytes do not compress: a long copy for the progress window, and a set split at 10,000,000 bytes with
# its third file missing for the insert-media prompt.
head -c 400000000 /dev/urandom > "$work/random400.raw"
"$zbitool" create "$work/big.zbi" "$work/random400.raw" --name "Big image" --force
head -c 40000000 /dev/urandom > "$work/random40.raw"
"$zbitool" create "$work/set.zbi" "$work/random40.raw" --name "Split set" --split-size 10000000 --force
rm "$work/set.003" "$work/random400.raw" "$work/random40.raw"

# A private home, so the settings and the recent list start empty, and a private temporary directory, so that
# an editor already running elsewhere for this user is not taken for the one instance and asked to come forward.
export HOME="$work/home" XDG_CONFIG_HOME="$work/home/.config" XDG_RUNTIME_DIR="$work/run" TMPDIR="$work/tmp"
mkdir -p "$HOME" "$XDG_RUNTIME_DIR" "$TMPDIR"
chmod 700 "$XDG_RUNTIME_DIR"

shoot() { # shoot NAME LANG [KEYS...]: run the editor, press KEYS, save the screen as NAME.png
    local name=$1 lang=$2
    shift 2
    LANG=$lang LC_ALL=$lang "$editor" "${image:-$work/demo.zbi}" &
    local pid=$!
    sleep 4 # the splash shows for 2 s
    for key in "$@"; do
        case $key in
        click:*) # click:X_Y clicks the screen at X, Y
            xy=${key#click:}
            xdotool mousemove "${xy%_*}" "${xy#*_}" click 1 ;;
        drag:*) # drag:X1_Y1:X2_Y2 drags with the left button from X1, Y1 to X2, Y2
            from=${key#drag:}
            to=${from#*:}
            from=${from%%:*}
            xdotool mousemove "${from%_*}" "${from#*_}" mousedown 1
            for step in 1 2 3 4 5 6 7 8; do
                xdotool mousemove "$((${from%_*} + (${to%_*} - ${from%_*}) * step / 8))" \
                    "$((${from#*_} + (${to#*_} - ${from#*_}) * step / 8))"
                sleep 0.2
            done
            xdotool mouseup 1 ;;
        type:*) xdotool type --delay 20 "${key#type:}" ;;
        wait:*) sleep "${key#wait:}" ;;
        *) xdotool key --clearmodifiers "$key" ;;
        esac
        sleep 1
    done
    import -window root "$out/$name.png"
    kill "$pid"
    wait "$pid" 2> /dev/null || true
}

shoot main C.UTF-8
# The window opens centred at 620 x 464 on the 1024 x 768 screen: the first partition row is at 260, 437.
shoot properties C.UTF-8 click:260_437 alt+Return
# A partition row dragged onto the recent image at 300, 237.
shoot drag C.UTF-8 drag:260_437:300_237
shoot main-spanish es_ES.UTF-8
# Partition > Copy... and Image > Span... ask for the target, then show their options (Span with the split
# box ticked).
shoot copy-options C.UTF-8 click:260_437 alt+p o "type:$work/copy.zbi" Return
shoot copy-options-spanish es_ES.UTF-8 click:260_437 alt+p o "type:$work/copia.zbi" Return
shoot span-options C.UTF-8 click:260_437 alt+i s "type:$work/span.zbi" Return alt+s
# Compress High of 400 MB that does not compress, caught about halfway.
image=$work/big.zbi shoot progress C.UTF-8 click:260_437 alt+p m "type:$work/high.zbi" Return alt+h Return wait:1
# Opening the set reaches the missing third file and asks for it.
image=$work/set.zbi shoot insert-media C.UTF-8
echo "screenshots in $out"

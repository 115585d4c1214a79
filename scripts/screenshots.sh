#!/usr/bin/env bash
# Starts the editor under Xvfb on a demo image and takes screenshots of the main window, the Partition
# Properties window, a partition row dropped onto the recent image, the main window in Spanish, the copy
# options for Copy and for Span, a copy's progress window, an insert-media prompt, the File Restore windows
# (the browser at the root and in a folder, the extraction halfway through a large file, the replace
# question) and the image index windows (the association dialog, the question whether to save a temporary
# index, the save dialog). Then it restores a whole folder with key presses and compares it with its source.
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
mkfs.fat -C -F 32 -n "ARCHIVE" "$work/fat32.img" 200000 > /dev/null
echo "Imbrex demo" > "$work/README.TXT"
mcopy -i "$work/fat16.img" "$work/README.TXT" ::/
# A tree to browse and restore: text files, a nested folder and a file of a few megabytes.
tree="$work/tree"
mkdir -p "$tree/Documents/Letters" "$tree/Pictures"
printf 'Dear reader,\nthis file was restored from an image.\n' > "$tree/Documents/Letters/Letter to a friend.txt"
printf 'Shopping: bread, milk, tea\n' > "$tree/Documents/list.txt"
: > "$tree/Documents/empty.txt"
head -c 3000000 /dev/urandom > "$tree/Pictures/holiday.raw"
mcopy -s -i "$work/fat16.img" "$tree/Documents" "$tree/Pictures" ::/
# A large file on the second volume, for the extraction's progress.
head -c 80000000 /dev/urandom > "$work/large.bin"
mcopy -i "$work/fat32.img" "$work/large.bin" ::/
rm "$work/large.bin"
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
        dblclick:*) # dblclick:X_Y
            xy=${key#dblclick:}
            xdotool mousemove "${xy%_*}" "${xy#*_}" click --repeat 2 --delay 80 1 ;;
        focus:*) # focus:TITLE gives the keyboard to the window of that title
            # Without a window manager a new dialog does not take the keyboard itself: the newest window of
            # that title is given it.
            xdotool windowfocus --sync "$(xdotool search --sync --name "^${key#focus:}\$" | tail -1)" ;;
        snap:*) import -window root "$out/${key#snap:}.png" ;;
        halfway:*) # halfway:DIR:BYTES:NAME watches DIR in the background; when it holds BYTES / 2 the editor is
            # stopped for a moment and the screen shot as NAME.png
            spec=${key#halfway:}
            dir=${spec%%:*}
            spec=${spec#*:}
            (
                for _ in $(seq 3000); do
                    [ "$(du -sb "$dir" | cut -f1)" -ge "$((${spec%%:*} / 2))" ] && break
                    sleep 0.005
                done
                kill -STOP "$pid"
                sleep 0.5
                import -window root "$out/${spec#*:}.png"
                kill -CONT "$pid"
            ) &
            watcher=$! ;;
        *) xdotool key --clearmodifiers "$key" ;;
        esac
        sleep 1
    done
    [ -n "${watcher:-}" ] && wait "$watcher"
    watcher=
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

# File Restore on the first partition. The compressed image has no index file yet, so the association
# dialog comes first; Return continues with a temporary index. The browser comes up with the file-name box
# focused. Shift+Tab goes to the file list, where Home and Down reach the folder "Documents" and Return
# enters it. Restoring list.txt into a directory that has it asks whether to replace it; Escape answers No,
# and closes the browser, which offers the temporary index for saving; Escape answers No.
target="$work/restore-target"
mkdir -p "$target"
printf 'an older list\n' > "$target/list.txt"
shoot restore-end C.UTF-8 dblclick:260_437 wait:2 snap:associate-index focus:"Associate Image Index" Return \
    wait:2 focus:"File Restore" snap:restore-root \
    shift+Tab Home Down Return wait:1 snap:restore-folder alt+d ctrl+a type:"$target" \
    alt+n ctrl+a type:list.txt alt+r wait:2 snap:restore-replace focus:"Replace File" Escape wait:1 \
    focus:"File Restore" Escape wait:1 snap:save-index-question focus:Imbrex Escape
# The large file of the second partition, shot when half of it is written.
large="$work/large-target"
mkdir -p "$large"
shoot restore-done C.UTF-8 dblclick:260_453 wait:2 focus:"Associate Image Index" Return wait:2 \
    focus:"File Restore" alt+d ctrl+a type:"$large" \
    alt+n ctrl+a type:large.bin halfway:"$large":80000000:restore-progress alt+r wait:4
# Create in the association dialog of the second partition: the save dialog proposes demo.zbx beside the
# image, Return saves the whole index there, and the browser opens with it.
shoot index-created C.UTF-8 dblclick:260_453 wait:2 focus:"Associate Image Index" alt+r wait:2 \
    snap:save-index-dialog focus:"Save Image Index" Return wait:3
[ -s "$work/demo.zbx" ] && echo "== Create saved the image index as demo.zbx"
echo "screenshots in $out"

# A whole folder restored by key presses from a Low image, compared with its source byte for byte: the
# folder "Documents" is selected in the list and restored, "Create All" makes the missing directories, and
# the question about sub-directories is answered Yes.
restored="$work/restored"
mkdir -p "$restored"
shoot restore-keys C.UTF-8 dblclick:260_437 wait:2 focus:"Associate Image Index" Return wait:2 \
    focus:"File Restore" alt+d ctrl+a type:"$restored" \
    shift+Tab shift+Tab Home Down alt+r wait:2 focus:"Create Directory" alt+r wait:1 focus:Imbrex Return wait:2 \
    focus:"File Restore" Return wait:1 focus:"File Restore" Escape
diff -r "$tree/Documents" "$restored/Documents" && echo "== the folder restored by key presses equals its source"

#!/usr/bin/env bash
# Makes the Debian package from an already built tree (nothing is compiled again), installs it with apt-get
# as a user would, and checks what the desktop sees: both programs run, the editor starts without a display,
# .zbi and .zbx files have the program's file types, and the launcher entry is valid.
# Usage: scripts/check-package.sh [BUILD_DIR]   (as root)
set -euo pipefail
build=$(realpath "${1:-build}")
rm -rf "$build/pkg"
(cd "$build" && cpack -B "$build/pkg" > /dev/null)
deb=$(ls "$build"/pkg/imbrex-file-editor_*.deb)
echo "-- $(basename "$deb")"
DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --reinstall "$deb" > /dev/null

zbitool --version
imbrex-file-editor --version
test -s /usr/share/man/man1/zbitool.1

# A private home and runtime folder: no settings, no running instance. An editor that is still running after
# the wait has started; one that failed would have ended with its error.
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -m 700 "$work/run"
status=0
timeout 10 env QT_QPA_PLATFORM=offscreen HOME="$work" XDG_CONFIG_HOME="$work/.config" \
    XDG_RUNTIME_DIR="$work/run" TMPDIR="$work" imbrex-file-editor 2> "$work/editor.err" || status=$?
if [ "$status" -ne 124 ]; then
    echo "the installed editor ended at start with status $status:" >&2
    cat "$work/editor.err" >&2
    exit 1
fi
echo "editor started offscreen"

touch "$work/x.zbi" "$work/x.zbx"
for pair in "x.zbi application/x-imbrex-image" "x.zbx application/x-imbrex-index"; do
    set -- $pair
    type=$(xdg-mime query filetype "$work/$1")
    if [ "$type" != "$2" ]; then
        echo "xdg-mime gives '$type' for $1, not $2" >&2
        exit 1
    fi
    echo "$1: $type"
done
desktop-file-validate /usr/share/applications/imbrex-file-editor.desktop
echo "package checks passed"

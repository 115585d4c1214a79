#!/usr/bin/env bash
# Restoring the whole tree of a FAT32 volume out of an image, stored uncompressed and stored Low, next to the
# tools that copy the same tree out of the raw volume: `mcopy -s` and `7z x` (and The Sleuth Kit's
# `tsk_recover` when installed). Prints seconds, MiB/s of file data and the ratio to the faster peer (target:
# uncompressed >= 1.0, Low >= 0.8), and zbitool's peak memory.
#
# Usage: bench/extract.sh [BUILD_DIR] [SIZE_MIB]
set -euo pipefail
build=${1:-build}
size_mib=${2:-1024}
zbitool="$build/cli/zbitool"
work=$(mktemp -d "${TMPDIR:-/tmp}/imbrex-bench-XXXXXX")
trap 'rm -rf "$work"' EXIT
export MTOOLS_SKIP_CHECK=1

truncate -s "${size_mib}M" "$work/raw.img"
mkfs.fat -F 32 "$work/raw.img" > /dev/null
for d in /usr/include /usr/share/locale /usr/share/doc /usr/lib/x86_64-linux-gnu /usr/share; do
    mcopy -s -Q -i "$work/raw.img" "$d" ::/ > /dev/null 2>&1 || true # stops when the volume is full
done
"$zbitool" create "$work/none.zbi" "$work/raw.img" > /dev/null
"$zbitool" create "$work/low.zbi" "$work/raw.img" --compression low > /dev/null

now() { date +%s.%N; }
best=""
run() { # run NAME COMMAND...: seconds of the best of two runs into a fresh directory
    local name=$1 t0 t1 t
    shift
    local fastest=""
    for _ in 1 2; do
        rm -rf "$work/out" && mkdir "$work/out"
        t0=$(now); "$@" > /dev/null 2>&1 || true; t1=$(now)
        t=$(echo "$t1 - $t0" | bc -l)
        if [ -z "$fastest" ] || (( $(echo "$t < $fastest" | bc -l) )); then fastest=$t; fi
    done
    echo "$fastest"
}
t_mcopy=$(run mcopy mcopy -s -n -i "$work/raw.img" ::/ "$work/out/")
data=$(du -sb "$work/out" | cut -f1)
t_7z=$(run 7z 7z x -y -o"$work/out" "$work/raw.img")
peers="mcopy $t_mcopy 7z $t_7z"
fastest=$t_mcopy
(( $(echo "$t_7z < $fastest" | bc -l) )) && fastest=$t_7z
if command -v tsk_recover > /dev/null; then
    t_tsk=$(run tsk tsk_recover -a "$work/raw.img" "$work/out")
    peers="$peers tsk_recover $t_tsk"
    (( $(echo "$t_tsk < $fastest" | bc -l) )) && fastest=$t_tsk
fi
t_none=$(run none "$zbitool" extract "$work/none.zbi" 1 '\' -o "$work/out")
t_low=$(run low "$zbitool" extract "$work/low.zbi" 1 '\' -o "$work/out")
rm -rf "$work/out" && mkdir "$work/out"
peak=$( { /usr/bin/time -f '%M' "$zbitool" extract "$work/low.zbi" 1 '\' -o "$work/out" > /dev/null 2> /dev/null; } 2>&1 || true)

mib=$(echo "$data / 1048576" | bc -l)
printf 'data: %d MiB FAT32 volume holding %.0f MiB of files\n' "$size_mib" "$mib"
set -- $peers
while [ $# -gt 0 ]; do
    printf '%-26s %8.2f s %8.1f MiB/s\n' "$1" "$2" "$(echo "$mib / $2" | bc -l)"
    shift 2
done
printf '%-26s %8.2f s %8.1f MiB/s  ratio to the fastest peer %.2f (target >= 1.0)\n' "zbitool extract, none" \
    "$t_none" "$(echo "$mib / $t_none" | bc -l)" "$(echo "$fastest / $t_none" | bc -l)"
printf '%-26s %8.2f s %8.1f MiB/s  ratio to the fastest peer %.2f (target >= 0.8)\n' "zbitool extract, Low" \
    "$t_low" "$(echo "$mib / $t_low" | bc -l)" "$(echo "$fastest / $t_low" | bc -l)"
[ -n "$peak" ] && printf 'zbitool peak memory: %s KiB\n' "$peak"

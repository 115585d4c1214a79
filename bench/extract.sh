#!/usr/bin/env bash
# Restoring the whole tree of a FAT32 (or NTFS) volume out of an image, stored uncompressed and stored Low, next
# to the tools that copy the same tree out of the raw volume: `mcopy -s` (FAT only) and `7z x` (and The Sleuth
# Kit's `tsk_recover` when installed). An NTFS volume is filled through an ntfs-3g mount, which needs FUSE. Prints seconds, MiB/s of file data and the ratio to the faster peer (target:
# uncompressed >= 1.0, Low >= 0.8), and zbitool's peak memory.
#
# The restored trees are written under OUT_DIR, by default /dev/shm when it is a tmpfs with room: on a
# virtual disk the write-back of one tool's gigabyte lands in the next tool's time and the ranking changes
# from run to run; in memory what is measured is each tool's own work. OUT_DIR=somewhere-on-disk measures
# with the disk.
#
# Usage: [OUT_DIR=DIR] bench/extract.sh [BUILD_DIR] [SIZE_MIB] [fat32|ntfs]
set -euo pipefail
build=${1:-build}
size_mib=${2:-1024}
kind=${3:-fat32}
zbitool="$build/cli/zbitool"
work=$(mktemp -d "${TMPDIR:-/tmp}/imbrex-bench-XXXXXX")
trap 'rm -rf "$work"' EXIT
export MTOOLS_SKIP_CHECK=1

truncate -s "${size_mib}M" "$work/raw.img"
sources=(/usr/include /usr/share/locale /usr/share/doc /usr/lib/x86_64-linux-gnu /usr/share)
if [ "$kind" = ntfs ]; then
    mkntfs -F -Q "$work/raw.img" > /dev/null 2>&1
    mkdir "$work/mnt"
    ntfs-3g "$work/raw.img" "$work/mnt"
    for d in "${sources[@]}"; do cp -r "$d" "$work/mnt/" 2> /dev/null || true; done # stops when full
    umount "$work/mnt"
else
    mkfs.fat -F 32 "$work/raw.img" > /dev/null
    for d in "${sources[@]}"; do
        mcopy -s -Q -i "$work/raw.img" "$d" ::/ > /dev/null 2>&1 || true # stops when the volume is full
    done
fi
"$zbitool" create "$work/none.zbi" "$work/raw.img" > /dev/null
"$zbitool" create "$work/low.zbi" "$work/raw.img" --compression low > /dev/null

now() { date +%s.%N; }
# On disk every run writes into a directory of its own and nothing is deleted until the end: deleting a large
# tree slows the next file creations on some file systems, which would favour whoever runs first. The tools
# take turns, three rounds, and each keeps its best time.
declare -A best
tools=(7z none low)
[ "$kind" = fat32 ] && tools+=(mcopy)
command -v tsk_recover > /dev/null && tools+=(tsk)
out_root=${OUT_DIR:-}
drop_each=no
if [ -z "$out_root" ]; then
    out_root=$work
    if [ "$(stat -f -c %T /dev/shm 2> /dev/null)" = tmpfs ] &&
        [ "$(df --output=avail -k /dev/shm | tail -1)" -gt $((size_mib * 2 * 1024)) ]; then
        out_root=$(mktemp -d /dev/shm/imbrex-bench-XXXXXX)
        drop_each=yes
        trap 'rm -rf "$work" "$out_root"' EXIT
    fi
fi
echo "restoring into $out_root"
round_dir=0
for round in 1 2 3; do
    for tool in "${tools[@]}"; do
        round_dir=$((round_dir + 1))
        out="$out_root/out$round_dir"
        mkdir "$out"
        sync # what earlier runs left to write back must not slow this one
        t0=$(now)
        case $tool in
        mcopy) mcopy -s -n -i "$work/raw.img" ::/ "$out/" > /dev/null 2>&1 || true ;;
        7z) 7z x -y -o"$out" "$work/raw.img" > /dev/null 2>&1 || true ;;
        tsk) tsk_recover -a "$work/raw.img" "$out" > /dev/null 2>&1 || true ;;
        none) "$zbitool" extract "$work/none.zbi" 1 '\' -o "$out" > /dev/null 2>&1 ;;
        low) "$zbitool" extract "$work/low.zbi" 1 '\' -o "$out" > /dev/null 2>&1 ;;
        esac
        t1=$(now)
        t=$(echo "$t1 - $t0" | bc -l)
        if [ -z "${best[$tool]:-}" ] || (( $(echo "$t < ${best[$tool]}" | bc -l) )); then best[$tool]=$t; fi
        [ "$tool" = none ] && [ -z "${data:-}" ] && data=$(du -sb "$out" | cut -f1)
        # In memory a tree is dropped at once (there is no inode reuse to slow the next tool down).
        [ "$drop_each" = yes ] && rm -rf "$out"
    done
done
t_none=${best[none]}
t_low=${best[low]}
fastest=${best[7z]}
peers="7z ${best[7z]}"
if [ -n "${best[mcopy]:-}" ]; then
    peers="mcopy ${best[mcopy]} $peers"
    (( $(echo "${best[mcopy]} < $fastest" | bc -l) )) && fastest=${best[mcopy]}
fi
if [ -n "${best[tsk]:-}" ]; then
    peers="$peers tsk_recover ${best[tsk]}"
    (( $(echo "${best[tsk]} < $fastest" | bc -l) )) && fastest=${best[tsk]}
fi
mkdir "$work/peak"
peak=
if /usr/bin/time -f '%M' -o "$work/peak.txt" "$zbitool" extract "$work/low.zbi" 1 '\' -o "$work/peak" > /dev/null 2>&1; then
    peak=$(tail -1 "$work/peak.txt")
fi

mib=$(echo "$data / 1048576" | bc -l)
printf 'data: %d MiB %s volume holding %.0f MiB of files\n' "$size_mib" "$kind" "$mib"
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

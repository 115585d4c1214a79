#!/usr/bin/env bash
# Restoring files out of an image, stored uncompressed, Low and High, next to the tools that copy the same
# files out of the raw volume: `mcopy` (FAT only), `7z` and, for one file of NTFS, `ntfscat` (and The Sleuth
# Kit's `tsk_recover` for whole trees when installed). An NTFS volume is filled through an ntfs-3g mount,
# which needs FUSE.
#
# Two fillings:
#   system  the volume is filled with system files, mostly small (the default);
#   large   two 200 MiB files, one text and one random, beside a few thousand small files and one small file
#           five folders deep (the volume must hold about 450 MiB: give SIZE_MIB 1024).
# Rows, each the best of ROUNDS (default 5) with the tools taking turns:
#   whole tree, plain / Low / High        against the fastest peer (targets 1.0 / 0.8 / 0.7)
#   one 200 MiB file, plain / Low          against `7z e` (large only; targets 1.0 / 0.8)
#   one small file five folders deep       against `mcopy` or `ntfscat` (large only; target 0.5)
#   stored-form copy of the Low image      against `cp` of the image file (target 0.8)
# and zbitool's peak memory restoring the Low tree.
#
# The restored files are written under OUT_DIR, by default /dev/shm when it is a tmpfs with room: on a
# virtual disk the write-back of one tool's gigabyte lands in the next tool's time and the ranking changes
# from run to run; in memory what is measured is each tool's own work. OUT_DIR=somewhere-on-disk measures
# with the disk.
#
# Usage: [OUT_DIR=DIR] [ROUNDS=N] bench/extract.sh [BUILD_DIR] [SIZE_MIB] [fat32|ntfs] [system|large]
set -euo pipefail
build=${1:-build}
size_mib=${2:-1024}
kind=${3:-fat32}
fill=${4:-system}
rounds=${ROUNDS:-5}
zbitool="$build/cli/zbitool"
work=$(mktemp -d "${TMPDIR:-/tmp}/imbrex-bench-XXXXXX")
trap 'rm -rf "$work"' EXIT
export MTOOLS_SKIP_CHECK=1

# The files of the large filling, made once under $work/src.
make_large_tree() {
    local src=$work/src
    mkdir -p "$src/small" "$src/a/b/c/d/e"
    head -c $((200 * 1048576)) /dev/urandom > "$src/random.bin"
    # Text that compresses about as well as source code does.
    local n=0
    while [ "$(stat -c %s "$src/text.txt" 2> /dev/null || echo 0)" -lt $((200 * 1048576)) ]; do
        find /usr/include -type f -name '*.h' -print0 | xargs -0 cat >> "$src/text.txt"
        n=$((n + 1))
        [ "$n" -gt 100 ] && break
    done
    truncate -s $((200 * 1048576)) "$src/text.txt"
    find /usr/include -type f -size -64k | head -n 3000 | while read -r f; do
        d="$src/small/$(dirname "${f#/usr/include/}")"
        mkdir -p "$d"
        cp "$f" "$d/"
    done
    echo "a small file five folders deep" > "$src/a/b/c/d/e/deep.txt"
}

truncate -s "${size_mib}M" "$work/raw.img"
sources=(/usr/include /usr/share/locale /usr/share/doc /usr/lib/x86_64-linux-gnu /usr/share)
[ "$fill" = large ] && make_large_tree && sources=("$work/src/random.bin" "$work/src/text.txt" "$work/src/small"
    "$work/src/a")
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
for level in none low high; do
    "$zbitool" create "$work/$level.zbi" "$work/raw.img" --compression "$level" > /dev/null
done

now() { date +%s.%N; }
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
echo "restoring into $out_root on $(nproc) cores"

# One job: a name and a command that writes into $out. On disk every run writes into a directory of its own
# and nothing is deleted until the end: deleting a large tree slows the next file creations on some file
# systems, which would favour whoever runs first.
declare -A cmd best
jobs=()
job() {
    jobs+=("$1")
    cmd[$1]=$2
}
have() { command -v "$1" > /dev/null; }
img=$work/raw.img
have 7z && job tree-7z "7z x -y -o\"\$out\" '$img'"
[ "$kind" = fat32 ] && job tree-mcopy "mcopy -s -n -i '$img' ::/ \"\$out/\""
have tsk_recover && job tree-tsk "tsk_recover -a '$img' \"\$out\""
for level in none low high; do job "tree-$level" "'$zbitool' extract '$work/$level.zbi' 1 '\\' -o \"\$out\""; done
if [ "$fill" = large ]; then
    have 7z && job one-7z "7z e -y -o\"\$out\" '$img' random.bin"
    for level in none low; do
        job "one-$level" "'$zbitool' extract '$work/$level.zbi' 1 '\\random.bin' -o \"\$out\""
    done
    if [ "$kind" = fat32 ]; then
        job deep-peer "mcopy -n -i '$img' ::/a/b/c/d/e/deep.txt \"\$out/\""
    else
        job deep-peer "ntfscat '$img' /a/b/c/d/e/deep.txt > \"\$out/deep.txt\""
    fi
    job deep-none "'$zbitool' extract '$work/none.zbi' 1 '\\a\\b\\c\\d\\e\\deep.txt' -o \"\$out\""
fi
job copy-cp "cp '$work/low.zbi' \"\$out/copy.zbi\""
job copy-zbitool "'$zbitool' copy '$work/low.zbi' \"\$out/copy.zbi\""

round_dir=0
for round in $(seq 1 "$rounds"); do
    for name in "${jobs[@]}"; do
        round_dir=$((round_dir + 1))
        out="$out_root/out$round_dir"
        mkdir "$out"
        sync # what earlier runs left to write back must not slow this one
        t0=$(now)
        eval "${cmd[$name]}" > /dev/null 2>&1 || true
        t1=$(now)
        t=$(echo "$t1 - $t0" | bc -l)
        if [ -z "${best[$name]:-}" ] || (($(echo "$t < ${best[$name]}" | bc -l))); then best[$name]=$t; fi
        [ "$name" = tree-none ] && [ -z "${data:-}" ] && data=$(du -sb "$out" | cut -f1)
        # In memory a tree is dropped at once (there is no inode reuse to slow the next tool down).
        [ "$drop_each" = yes ] && rm -rf "$out"
    done
done

mkdir "$work/peak"
peak=
if /usr/bin/time -f '%M' -o "$work/peak.txt" "$zbitool" extract "$work/low.zbi" 1 '\' -o "$work/peak" > /dev/null 2>&1; then
    peak=$(tail -1 "$work/peak.txt")
fi

# The fastest of the peers named, and its name.
fastest() {
    local t= who=
    for name in "$@"; do
        [ -n "${best[$name]:-}" ] || continue
        if [ -z "$t" ] || (($(echo "${best[$name]} < $t" | bc -l))); then
            t=${best[$name]}
            who=$name
        fi
    done
    echo "$who $t"
}
row() { # label, our job, peer time, target
    [ -n "${best[$2]:-}" ] || return 0
    if [ -n "$3" ]; then
        printf '%-36s %8.3f s  ratio %.2f (target >= %s)\n' "$1" "${best[$2]}" \
            "$(echo "$3 / ${best[$2]}" | bc -l)" "$4"
    else
        printf '%-36s %8.3f s\n' "$1" "${best[$2]}"
    fi
}
mib=$(echo "$data / 1048576" | bc -l)
printf 'data: %d MiB %s volume (%s filling) holding %.0f MiB of files; best of %d on %d cores\n' "$size_mib" \
    "$kind" "$fill" "$mib" "$rounds" "$(nproc)"
for name in tree-7z tree-mcopy tree-tsk one-7z deep-peer copy-cp; do
    [ -n "${best[$name]:-}" ] && printf '%-36s %8.3f s\n' "peer $name" "${best[$name]}"
done
read -r _ tree_peer <<< "$(fastest tree-7z tree-mcopy tree-tsk)"
row "zbitool extract, whole tree, plain" tree-none "$tree_peer" 1.0
row "zbitool extract, whole tree, Low" tree-low "$tree_peer" 0.8
row "zbitool extract, whole tree, High" tree-high "$tree_peer" 0.7
row "zbitool extract, 200 MiB file, plain" one-none "${best[one-7z]:-}" 1.0
row "zbitool extract, 200 MiB file, Low" one-low "${best[one-7z]:-}" 0.8
row "zbitool extract, deep small file" deep-none "${best[deep-peer]:-}" 0.5
row "zbitool copy, stored form of Low" copy-zbitool "${best[copy-cp]:-}" 0.8
[ -n "$peak" ] && printf 'zbitool peak memory restoring the Low tree: %s KiB\n' "$peak"
exit 0

#!/usr/bin/env bash
# Compression families against the zstd command line tool on the same data, in one run:
#  - ratio and MB/s of `zbitool create --compression low|high` next to `zstd -b<level> -B65536` (independent 64 KiB
#    blocks, as the image stores them) at the levels the store uses (1 and 9);
#  - sequential decoded reading of the Low partition next to `zstd -d` of the same data (target >= 0.7);
#  - a stored-form copy next to `cp` of the image (target >= 0.8), and the peak memory of both.
#
# Usage: bench/compression.sh [BUILD_DIR] [SIZE_MIB]
set -euo pipefail
build=${1:-build}
size_mib=${2:-256}
zbitool="$build/cli/zbitool"
bench="$build/bench/zbi_bench"
work=$(mktemp -d "${TMPDIR:-/tmp}/imbrex-bench-XXXXXX")
trap 'rm -rf "$work"' EXIT
export MTOOLS_SKIP_CHECK=1

# A FAT32 volume filled with what a system disk holds: headers, libraries, translations, documentation.
truncate -s "${size_mib}M" "$work/raw.img"
mkfs.fat -F 32 "$work/raw.img" > /dev/null
for d in /usr/include /usr/share/locale /usr/share/doc /usr/lib/x86_64-linux-gnu; do
    mcopy -s -Q -i "$work/raw.img" "$d" ::/ > /dev/null 2>&1 || true # stops when the volume is full
done

now() { date +%s.%N; }
mib=$size_mib
printf 'data: %d MiB FAT32 volume of system files\n\n' "$mib"
printf '%-28s %8s %10s\n' "" "ratio" "MiB/s"
for family in low high; do
    level=1; [ "$family" = high ] && level=9
    t0=$(now); "$zbitool" create "$work/$family.zbi" "$work/raw.img" --compression "$family" --force; t1=$(now)
    ratio=$(echo "$(stat -c %s "$work/raw.img") / $(stat -c %s "$work/$family.zbi")" | bc -l)
    printf '%-28s %8.3f %10.1f\n' "zbitool create $family" "$ratio" "$(echo "$mib / ($t1 - $t0)" | bc -l)"
    zstd -b$level -B65536 -q "$work/raw.img" 2>&1 | tr '\r' '\n' | grep 'MB/s' | tail -n 1 |
        awk -v l="$level" '{ for (i = 1; i <= NF; i++) { if ($i ~ /^\(/) r = $i; if ($i == "MB/s" && !s) s = $(i-1) } }
            END { gsub(/[()]/, "", r); printf "%-28s %8.3f %10.1f\n", "zstd -b" l " -B65536", r, s }'
done

echo
zstd -1 -q -f "$work/raw.img" -o "$work/raw.zst"
t0=$(now); zstd -d -q -c "$work/raw.zst" > /dev/null; t1=$(now)
zstd_d=$(echo "$mib / ($t1 - $t0)" | bc -l)
read_low=$("$bench" "$work/low.zbi" 1 | awk '/decoded read/ { print $(NF-1) }')
printf 'decoded read, Low: %.1f MiB/s; zstd -d: %.1f MiB/s; ratio %.2f (target >= 0.7)\n' "$read_low" "$zstd_d" \
    "$(echo "$read_low / $zstd_d" | bc -l)"

"$zbitool" create "$work/none.zbi" "$work/raw.img" --force
# Best of three for both, alternating, so that write-back of one run does not land on the other alone.
cp_best=0; copy_best=0
for _ in 1 2 3; do
    rm -f "$work/copy.zbi" "$work/stored-copy.zbi"; sync
    t0=$(now); cp "$work/none.zbi" "$work/copy.zbi" && sync "$work/copy.zbi"; t1=$(now)
    rate=$(echo "$(stat -c %s "$work/none.zbi") / 1048576 / ($t1 - $t0)" | bc -l)
    (( $(echo "$rate > $cp_best" | bc -l) )) && cp_best=$rate
    rm -f "$work/copy.zbi"; sync
    out=$("$bench" "$work/none.zbi" 1 "$work/stored-copy.zbi")
    rate=$(echo "$out" | awk '/stored-form copy/ { print $(NF-1) }')
    (( $(echo "$rate > $copy_best" | bc -l) )) && copy_best=$rate
done
printf 'stored-form copy: %.1f MiB/s; cp + sync: %.1f MiB/s; ratio %.2f (target >= 0.8)\n' "$copy_best" "$cp_best" \
    "$(echo "$copy_best / $cp_best" | bc -l)"
echo "$out" | grep 'peak memory'

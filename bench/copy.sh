#!/usr/bin/env bash
# Copying partitions between images with zbitool, next to the peers that move the same bytes:
#  - a stored-form copy (compression and password kept: chunks pass undecoded) of one partition next to `cp` of
#    the image file (target >= 0.8 of cp's speed);
#  - recompression Low -> High (every chunk decoded and compressed again) next to the `zstd` tool at the High
#    level (imgstore/ChunkCodec.h: kHighLevel = 9) on the raw volume: as one stream (`zstd -9`), and in
#    independent 64 KiB blocks as the image stores them (`zstd -b9 -B65536`, in memory).
# The page cache is not dropped (that needs root); every copy reads what the one before it wrote, so all
# contenders read from memory and the figures compare the work done on the bytes.
#
# Usage: bench/copy.sh [BUILD_DIR] [SIZE_MIB]      (SIZE_MIB defaults to 1024: a 1 GiB partition)
set -euo pipefail
build=${1:-build}
size_mib=${2:-1024}
zbitool="$build/cli/zbitool"
work=$(mktemp -d "${TMPDIR:-/tmp}/imbrex-copy-bench-XXXXXX")
trap 'rm -rf "$work"' EXIT
export MTOOLS_SKIP_CHECK=1

# A FAT32 volume filled with system files (up to size_mib MiB); every block is stored, so the figures count
# size_mib MiB of partition per second.
truncate -s "${size_mib}M" "$work/raw.img"
mkfs.fat -F 32 "$work/raw.img" > /dev/null
for d in /usr/include /usr/share/locale /usr/lib/x86_64-linux-gnu; do
    mcopy -s -Q -i "$work/raw.img" "$d" ::/ > /dev/null 2>&1 || true # stops when the volume is full
done
"$zbitool" create "$work/low.zbi" "$work/raw.img" --compression low --all-blocks --force

now() { date +%s.%N; }
rate() { echo "$size_mib / ($2 - $1)" | bc -l; }
printf 'data: %d MiB FAT32 partition, stored Low (code 301): %d MiB image\n\n' "$size_mib" \
    $(($(stat -c %s "$work/low.zbi") / 1048576))
printf '%-44s %10s\n' "" "MiB/s"

cat "$work/low.zbi" > /dev/null
t0=$(now); cp "$work/low.zbi" "$work/cp.zbi"; sync -f "$work/cp.zbi"; t1=$(now)
cp_rate=$(rate "$t0" "$t1")
printf '%-44s %10.1f\n' "cp of the image" "$cp_rate"
rm -f "$work/cp.zbi"
t0=$(now); "$zbitool" copy "$work/low.zbi" "$work/copy.zbi"; sync -f "$work/copy.zbi"; t1=$(now)
copy_rate=$(rate "$t0" "$t1")
printf '%-44s %10.1f   (%.2f x cp, target 0.8)\n' "zbitool copy, stored form" "$copy_rate" \
    "$(echo "$copy_rate / $cp_rate" | bc -l)"
rm -f "$work/copy.zbi"

echo
t0=$(now); "$zbitool" copy "$work/low.zbi" "$work/high.zbi" --compression high; t1=$(now)
printf '%-44s %10.1f\n' "zbitool copy --compression high (Low->High)" "$(rate "$t0" "$t1")"
t0=$(now); zstd -9 -q -f "$work/raw.img" -o "$work/raw.zst"; t1=$(now)
printf '%-44s %10.1f\n' "zstd -9 (one stream, one thread)" "$(rate "$t0" "$t1")"
zstd -b9 -B65536 -q "$work/raw.img" 2>&1 | tr '\r' '\n' | grep 'MB/s' | tail -n 1 |
    awk '{ for (i = 1; i <= NF; i++) if ($i == "MB/s" && !s) s = $(i-1) } END { printf "%-44s %10.1f   (MB/s, in memory)\n", "zstd -b9 -B65536", s }'
printf '\nsizes: Low %d MiB, High %d MiB, zstd -9 %d MiB\n' $(($(stat -c %s "$work/low.zbi") / 1048576)) \
    $(($(stat -c %s "$work/high.zbi") / 1048576)) $(($(stat -c %s "$work/raw.zst") / 1048576))

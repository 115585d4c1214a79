#!/usr/bin/env bash
# Throughput of `zbitool create` and `zbitool export` on an uncompressed partition, as a ratio to `cp` of the same
# raw file (each followed by an fsync of its output, as the store syncs what it commits). 1.0 means as fast as
# cp; the target is at least 0.8.
#
# Usage: bench/store-throughput.sh [ZBITOOL] [SIZE_MIB]
set -euo pipefail
zbitool=${1:-build/cli/zbitool}
size_mib=${2:-1024}
work=$(mktemp -d "${TMPDIR:-/tmp}/imbrex-bench-XXXXXX")
trap 'rm -rf "$work"' EXIT

# A FAT32 volume whose data area is filled with incompressible bytes, so every block is real data.
head -c $((size_mib * 1024 * 1024)) /dev/urandom > "$work/raw.img"
mkfs.fat -F 32 "$work/raw.img" > /dev/null

seconds() { local start end; start=$(date +%s.%N); "$@" > /dev/null; end=$(date +%s.%N); echo "$end - $start" | bc -l; }
best_of() { # best of three runs: the machine may be busy
    local best=""
    for _ in 1 2 3; do
        local t; t=$(seconds "$@")
        if [ -z "$best" ] || (( $(echo "$t < $best" | bc -l) )); then best=$t; fi
    done
    echo "$best"
}
copy() { cp "$work/raw.img" "$work/copy.img" && sync "$work/copy.img"; }
create() { "$zbitool" create "$work/image.zbi" "$work/raw.img" --force; }
export_() { "$zbitool" export "$work/image.zbi" 1 "$work/out.img" --force; }

cat "$work/raw.img" > /dev/null # warm the cache for everyone alike
t_cp=$(best_of copy)
t_create=$(best_of create)
t_export=$(best_of export_)
cmp "$work/raw.img" "$work/out.img"

mb=$size_mib
printf 'data: %d MiB FAT32 volume, uncompressed partition\n' "$mb"
printf '%-8s %8.3f s  %8.1f MiB/s\n' cp "$t_cp" "$(echo "$mb / $t_cp" | bc -l)"
printf '%-8s %8.3f s  %8.1f MiB/s  ratio to cp %.2f (target >= 0.8)\n' create "$t_create" \
    "$(echo "$mb / $t_create" | bc -l)" "$(echo "$t_cp / $t_create" | bc -l)"
printf '%-8s %8.3f s  %8.1f MiB/s  ratio to cp %.2f (target >= 0.8)\n' export "$t_export" \
    "$(echo "$mb / $t_export" | bc -l)" "$(echo "$t_cp / $t_export" | bc -l)"

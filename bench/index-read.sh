#!/usr/bin/env bash
# What a saved image index buys on a High (208) partition: the time to read the last sector without and with a
# saved index (target: under 5 % of the full walk), random 4 KiB reads with a warm index, and the peak memory
# of the reading process against the 4 MiB index bound plus four 128 KiB buffers.
#
# Usage: bench/index-read.sh [BENCH_PROGRAM] [SIZE_MIB]
set -euo pipefail
bench=${1:-build/bench/index_read_bench}
size_mib=${2:-1024}
work=$(mktemp -d "${TMPDIR:-/tmp}/imbrex-index-bench-XXXXXX")
trap 'rm -rf "$work"' EXIT

start=$(date +%s)
"$bench" create "$work/image.zbi" "$size_mib"
printf 'made a %d MiB High partition in %d s\n' "$size_mib" "$(( $(date +%s) - start ))"
"$bench" measure "$work/image.zbi"

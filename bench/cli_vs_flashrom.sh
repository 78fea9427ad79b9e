#!/bin/bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Reads, verifies and programs (auto: erase, write, verify) a 16 MiB SPI FLASH with
# tarvix-cli on the simulated programmer and with flashrom's dummy programmer emulating
# the same part, side by side, and prints the time ratios; the read is also set against
# cp of the same 16 MiB (the goal: within 2x of cp, at least 10x faster than flashrom).
# Also reports tarvix-cli's peak memory for the 16 MiB chip and for a small one: it must
# not grow with the chip.
#
#   bench/cli_vs_flashrom.sh [path/to/tarvix-cli] [path/to/database.dat]
#
# Timings are the best of RUNS runs (default 5) of the whole process, start-up
# included, on a warm page cache.
set -euo pipefail

here=$(cd "$(dirname "$0")/.." && pwd)
cli=${1:-$here/build/tarvix-cli}
database=${2:-$(dirname "$cli")/database.dat}
runs=${RUNS:-5}
model=W25Q128FV  # the 16 MiB SPI FLASH of the shipped catalogue
small=W25X10    # a 128 KiB SPI FLASH of the catalogue, for the memory comparison

[ -e "$cli" ] && cli=$(realpath "$cli")
[ -e "$database" ] && database=$(realpath "$database")
for tool in "$cli" /usr/bin/time; do
  [ -x "$tool" ] || { echo "missing $tool" >&2; exit 2; }
done
command -v flashrom >/dev/null || { echo "flashrom is not installed" >&2; exit 2; }
[ -f "$database" ] || { echo "missing $database (build the 'database' target)" >&2; exit 2; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
cp "$database" database.dat
head -c 16777216 /dev/urandom > image.bin
cp image.bin tarvix_chip.img
cp image.bin flashrom_chip.img

# Best wall time of $runs runs of a command, in seconds; $setup (a command) runs
# before each, untimed.
setup=true
best() {
  local best_ns=
  for ((i = 0; i < runs; i++)); do
    local t0 t1
    $setup
    t0=$(date +%s%N)
    "$@" >/dev/null 2>&1 || { echo "failed: $*" >&2; exit 1; }
    t1=$(date +%s%N)
    local ns=$((t1 - t0))
    if [ -z "$best_ns" ] || [ "$ns" -lt "$best_ns" ]; then best_ns=$ns; fi
  done
  awk -v ns="$best_ns" 'BEGIN { printf "%.3f", ns / 1e9 }'
}

tarvix=("$cli" "--simulate=$model" --sim-image tarvix_chip.img --chip "$model")
flash=(flashrom -p "dummy:emulate=$model,image=flashrom_chip.img")

# Each read makes a new file, as cp does: replacing one costs every tool the release of
# the old file's 16 MiB as well.
setup="rm -f cp_copy.bin"
c_read=$(best cp image.bin cp_copy.bin)
setup="rm -f tarvix_read.bin"
t_read=$(best "${tarvix[@]}" read tarvix_read.bin)
setup="rm -f flashrom_read.bin"
f_read=$(best "${flash[@]}" -r flashrom_read.bin)
setup=true
t_verify=$(best "${tarvix[@]}" verify image.bin)
f_verify=$(best "${flash[@]}" -v image.bin)

cmp -s tarvix_read.bin image.bin || { echo "tarvix-cli read back other bytes" >&2; exit 1; }
cmp -s flashrom_read.bin image.bin || { echo "flashrom read back other bytes" >&2; exit 1; }

# Programming starts from a chip that holds other bytes, so that neither tool can skip
# a block that is already right.
head -c 16777216 /dev/zero > other.bin
setup="cp other.bin tarvix_chip.img"
t_auto=$(best "${tarvix[@]}" --yes auto image.bin)
setup="cp other.bin flashrom_chip.img"
f_auto=$(best "${flash[@]}" -w image.bin)
setup=true
cmp -s tarvix_chip.img image.bin || { echo "tarvix-cli programmed other bytes" >&2; exit 1; }
cmp -s flashrom_chip.img image.bin || { echo "flashrom programmed other bytes" >&2; exit 1; }

ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.1fx", a / b }'; }
echo "16 MiB $model, best of $runs runs (seconds)"
printf '%-8s %12s %12s %16s\n' operation tarvix-cli flashrom "tarvix-cli lead"
for op in read verify auto; do
  t_var=t_$op
  f_var=f_$op
  printf '%-8s %12s %12s %16s\n' "$op" "${!t_var}" "${!f_var}" "$(ratio "${!f_var}" "${!t_var}")"
done
echo "(lead = flashrom time / tarvix-cli time; the read's goal is at least 10x)"
echo
printf 'read against cp of the same 16 MiB: cp %ss, tarvix-cli %ss, %s of cp (goal: at most 2x)\n' \
  "$c_read" "$t_read" "$(ratio "$t_read" "$c_read")"

# Peak resident memory of a read of chips of 128 KiB, 4 MiB and 16 MiB. The buffers
# are fixed (the largest, a 1 MiB copy chunk, is only as large as the file below that),
# so memory must stay flat from 4 MiB to 16 MiB.
peak_kb() {
  /usr/bin/time -v "$@" 2>&1 >/dev/null | awk -F: '/Maximum resident set size/ { gsub(/ /, "", $2); print $2 }'
}
echo
echo "tarvix-cli peak RSS of a read:"
for chip in W25X10:131072 W25Q32BV:4194304 "$model":16777216; do
  name=${chip%%:*}
  size=${chip##*:}
  head -c "$size" image.bin > "rss_$name.img"
  kb=$(peak_kb "$cli" "--simulate=$name" --sim-image "rss_$name.img" --chip "$name" read "rss_$name.bin")
  printf '  %-10s %9s bytes  %6s KiB\n' "$name" "$size" "$kb"
done

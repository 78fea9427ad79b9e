#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Loading and saving a 128 MiB image against cp and a plain read of the same file,
# a page refresh deep inside an image past 4 GiB, and peak memory. Prints ratios.
# Usage: bench/run_buffer_bench.sh [BUILD_DIR] [BIG_SIZE_MIB]
# Best of five runs each side; on a busy machine single runs scatter widely.
set -euo pipefail
cd "$(dirname "$0")/.."
build_dir=${1:-build-bench}
big_mib=${2:-4096}
cmake -S . -B "$build_dir" -G Ninja -DTARVIX_BUILD_BENCH=ON >/dev/null
cmake --build "$build_dir" --target tarvix_bench >/dev/null

work=$(mktemp -d /tmp/tarvix_buffer_bench.XXXXXX)
trap 'rm -rf "$work"' EXIT
image=$work/image.bin
head -c $((128 << 20)) /dev/urandom >"$image"
cat "$image" >/dev/null  # both sides start from a warm page cache

# cp over an existing copy, as Load truncates and refills the existing working copy.
cp "$image" "$work/copy.bin"
best_cp=
for _ in 1 2 3 4 5; do
  start=$(date +%s.%N)
  cp "$image" "$work/copy.bin"
  end=$(date +%s.%N)
  t=$(echo "$end - $start" | bc -l)
  if [ -z "$best_cp" ] || [ "$(echo "$t < $best_cp" | bc -l)" = 1 ]; then best_cp=$t; fi
done
rm -f "$work/copy.bin"

out=$("$build_dir/bench/tarvix_bench" "$image" "$big_mib")
echo "$out"
value() { echo "$out" | awk -v k="$1" '$1 == k { print $2 }'; }
load=$(value load_s)
read_once=$(value read_once_s)
save=$(value save_one_byte_s)
full=$(value save_full_compare_s)
printf 'cp_s %.6f\n' "$best_cp"
printf 'ratio load/cp                       %.3f  (target <= 1.5)\n' "$(echo "$load / $best_cp" | bc -l)"
printf 'ratio save one byte/read once       %.5f  (target <= 1.5)\n' "$(echo "$save / $read_once" | bc -l)"
printf 'ratio save full compare/read once   %.3f  (source changed on disk)\n' "$(echo "$full / $read_once" | bc -l)"
printf 'refresh ms: mean %s, p50 %s, p99 %s, p99.9 %s, worst %s  (target < 1 ms)\n' \
  "$(value refresh_mean_ms)" "$(value refresh_p50_ms)" "$(value refresh_p99_ms)" \
  "$(value refresh_p999_ms)" "$(value refresh_worst_ms)"
printf 'peak RSS KiB: start %s, 128 MiB loaded %s, %s MiB loaded %s\n' \
  "$(value rss_start_kib)" "$(value rss_after_load_kib)" "$big_mib" "$(value rss_after_big_load_kib)"

#!/usr/bin/env bash
# The house rule: includes run down. The floors below the program (state, catalogue,
# device, buffer, firmware, operations, net, sim) never include app/, cli/ or gui/;
# the ground floor state/ includes only itself; only gui/ includes Qt.
# Usage: check_includes.sh SOURCE_DIR   (exit 1 and one line per breach)
set -uo pipefail
root=${1:?source dir}
cd "$root" || exit 2
if git rev-parse --is-inside-work-tree >/dev/null 2>&1; then
  mapfile -t files < <(git ls-files -- 'src/*.h' 'src/*.cpp')
else
  mapfile -t files < <(find src -name '*.h' -o -name '*.cpp')
fi
[ ${#files[@]} -gt 0 ] || { echo "no sources found under $root/src"; exit 2; }

breaches=0
breach() { echo "$1: $2"; breaches=$((breaches + 1)); }
for f in "${files[@]}"; do
  [ -f "$f" ] || continue
  floor=${f#src/}
  floor=${floor%%/*}
  while IFS= read -r line; do
    target=$(sed -E 's/^[[:space:]]*#[[:space:]]*include[[:space:]]*[<"]([^">]+)[">].*/\1/' <<<"$line")
    case $floor in
      state)
        case $target in
          */*) [[ $target == state/* ]] || breach "$f" "the ground floor includes $target" ;;
        esac ;;
      catalogue|device|buffer|firmware|operations|net|sim)
        case $target in
          app/*|cli/*|gui/*) breach "$f" "a lower floor includes $target" ;;
        esac ;;
    esac
    if [[ $floor != gui ]] && [[ $target =~ ^Q[A-Za-z]*(/|$) ]]; then
      breach "$f" "Qt outside gui/: $target"
    fi
  done < <(grep -E '^[[:space:]]*#[[:space:]]*include' "$f")
done
if [ $breaches -gt 0 ]; then
  echo "$breaches include(s) break the house rule"
  exit 1
fi
echo "${#files[@]} sources: includes run down"

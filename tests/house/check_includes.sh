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

# One pass over every include line: "file:target".
grep -H -E '^[[:space:]]*#[[:space:]]*include' "${files[@]}" 2>/dev/null |
  awk -v count="${#files[@]}" '
    {
      file = substr($0, 1, index($0, ":") - 1)
      line = substr($0, index($0, ":") + 1)
      if (!match(line, /[<"][^">]+[">]/)) next
      target = substr(line, RSTART + 1, RLENGTH - 2)
      floor = file; sub(/^src\//, "", floor); sub(/\/.*/, "", floor)
      if (floor == "state" && target ~ /\// && target !~ /^state\//) {
        print file ": the ground floor includes " target; breaches++
      } else if (floor ~ /^(catalogue|device|buffer|firmware|operations|net|sim)$/ &&
                 target ~ /^(app|cli|gui)\//) {
        print file ": a lower floor includes " target; breaches++
      }
      if (floor != "gui" && target ~ /^Q[A-Za-z]*(\/|$)/) {
        print file ": Qt outside gui/: " target; breaches++
      }
    }
    END {
      if (breaches > 0) { print breaches " include(s) break the house rule"; exit 1 }
      print count " sources: includes run down"
    }'

#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# The house rule: includes run down. Each folder of src/ stands on a floor, from the
# ground floor state/ up to the front ends cli/ and gui/; a file includes only its own
# folder and folders on lower floors, and only gui/ includes Qt.
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
    BEGIN {
      # Ground floor first; folders on one floor do not include each other.
      split("state catalogue device buffer operations firmware production net,sim app cli,gui", floors, " ")
      for (i = 1; i in floors; ++i) {
        n = split(floors[i], names, ",")
        for (j = 1; j <= n; ++j) rank[names[j]] = i
      }
    }
    {
      file = substr($0, 1, index($0, ":") - 1)
      line = substr($0, index($0, ":") + 1)
      if (!match(line, /[<"][^">]+[">]/)) next
      target = substr(line, RSTART + 1, RLENGTH - 2)
      floor = file; sub(/^src\//, "", floor); sub(/\/.*/, "", floor)
      # Our own headers are the quoted ones that name a folder.
      if (substr(line, RSTART, 1) == "\"" && target ~ /^[a-z_]+\//) {
        above = target; sub(/\/.*/, "", above)
        if (above != floor && !(above in rank)) {
          print file ": includes " target " from a folder with no floor"; breaches++
        } else if (above != floor && (floor in rank) && rank[above] >= rank[floor]) {
          print file ": " floor "/ includes " target " from a floor not below it"; breaches++
        }
      }
      if (floor != "gui" && target ~ /^Q[A-Za-z]*(\/|$)/) {
        print file ": Qt outside gui/: " target; breaches++
      }
    }
    END {
      if (breaches > 0) { print breaches " include(s) break the house rule"; exit 1 }
      print count " sources: includes run down"
    }'

#!/usr/bin/env bash
# The OBJ reduction on 2,000,000-vertex coloured scans (closed, and flat):
# the simplifier to 10 %, then the colour transfer onto its output, each
# timed with GNU time (wall, CPU and peak memory), best of three.
#   tools/bench/objreduce_bench.sh [BUILD_DIR] [VERTICES]
set -euo pipefail
build=${1:-build}
count=${2:-2000000}
cmake --build "$build" --target mesh_bench simpcmd >/dev/null
bin=$(cd "$build/bin" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
best() {  # prints the best of three runs of the command: "wall user sys peakMB"
  local bestline="" bestwall=999999
  for _ in 1 2 3; do
    /usr/bin/time -f "%e %U %S %M" -o "$work/t" "$@" >"$work/out" 2>&1
    read -r w u s m <"$work/t"
    if awk "BEGIN{exit !($w < $bestwall)}"; then bestwall=$w; bestline="$w s wall, $u s user, $s s sys, $((m / 1024)) MB"; fi
  done
  echo "$bestline"
}
for kind in closed flat; do
  extra=""
  [ "$kind" = flat ] && extra=flat
  "$bin/mesh_bench" scan "$work/$kind.obj" "$count" $extra >/dev/null
  echo "$kind scan ($count vertices):"
  echo "  simpcmd to 10 %:  $(best "$bin/simpcmd" "$work/$kind.obj" "$work/${kind}_red.obj" 0.10)"
  echo "  colour transfer:  $(best "$bin/mesh_bench" colours "$work/$kind.obj" "$work/${kind}_red.obj" "$work/${kind}_out.obj")"
done
"$bin/mesh_bench" cloudtools "$work" 1000000 >/dev/null
echo "cloud tools on 1,000,000 points and 1,000,000 faces:"
"$bin/mesh_bench" cloudtools "$work" 1000000 | sed 's/^/  /'

#!/usr/bin/env bash
# Voxel-tool benchmark, side by side in one run: hollowing the slicer
# benchmark's 80 mm sphere of about 1,000,000 facets at voxel 0.5 mm, shell
# 3 mm, beams 0 and 4 (`mesh_bench hollow`), against layertint slicing that
# sphere (the slicer benchmark's settings, 100 micrometre layers) and
# against the time PrusaSlicer's SLA export adds with its hollowing on for
# the same wall (`--hollowing-enable --hollowing-min-thickness 3`, against
# the same export without it); then the void split of an 80 mm OBJ sphere of
# about 1,000,000 triangles at 200 micrometres (`mesh_bench voidsplit`,
# which includes converting the OBJ). Wall time and peak resident memory
# from GNU time. PrusaSlicer (Debian package prusa-slicer) is measured where
# it is installed.
#
#   tools/bench/voxel_bench.sh [BUILD_DIR]
#
# REFERENCE=1 also times the plain references (the test of every sphere
# offset, the void split testing every facet at a ray's height).
set -euo pipefail

root=$(cd "$(dirname "$0")/../.." && pwd)
build=${1:-$root/build}
[ -d "$build" ] || { echo "no build folder $build (run scripts/build.sh first)" >&2; exit 2; }
build=$(cd "$build" && pwd)
cmake --build "$build" --target mesh_bench make_sphere make_obj_sphere layertint -j4 >/dev/null

work=$(mktemp -d "${TMPDIR:-/tmp}/voxel_bench.XXXXXX")
trap 'rm -rf "$work"' EXIT
"$build/bin/make_sphere" "$work/sphere1m.stl" 80 1000000 >/dev/null
"$build/bin/make_obj_sphere" "$work/sphere1m.obj" 40 1000000 >/dev/null

# Runs a command in the scratch folder; prints "seconds peak-MB".
measure() {
  local log="$work/run.log"
  if ! (cd "$work" && /usr/bin/time -f "%e %M" -o "$work/time" "$@" >"$log" 2>&1); then
    echo "FAILED: $*" >&2
    tail -20 "$log" >&2
    return 1
  fi
  awk '{ printf "%s %d\n", $1, $2 / 1024 }' "$work/time"
}
row() { printf '| %s | %s s | %s MB |\n' "$1" "$2" "$3"; }

facets=$(( ($(stat -c %s "$work/sphere1m.stl") - 84) / 50 ))
echo "sphere1m.stl: $facets facets; sphere1m.obj: $(grep -c '^f ' "$work/sphere1m.obj") face lines"
printf '| run | wall | peak |\n|---|---|---|\n'
for beams in 0 4; do
  read -r s mb < <(measure "$build/bin/mesh_bench" hollow sphere1m.stl hollowed$beams.stl 0.5 3 $beams)
  row "mesh_bench hollow, voxel 0.5, shell 3, beams $beams" "$s" "$mb"
  if [ -n "${REFERENCE:-}" ]; then
    read -r s mb < <(measure "$build/bin/mesh_bench" hollow sphere1m.stl offsets$beams.stl 0.5 3 $beams offsets)
    row "the same with the test of every sphere offset" "$s" "$mb"
    cmp -s "$work/hollowed$beams.stl" "$work/offsets$beams.stl" && echo "(the same file)" || echo "(FILES DIFFER)"
  fi
done
read -r s mb < <(QT_QPA_PLATFORM=offscreen PRISM_NAMESPACE="bench$$_" measure "$build/bin/layertint" \
  -F"$work/sphere1m.stl" -L100 -W64 -S64 -C50 -D1000 -K"$work/out.p3d" -E32767)
row "layertint slicing the sphere" "$s" "$mb"
prusa=$(command -v prusa-slicer || true)
if [ -n "$prusa" ]; then
  sla() {
    measure "$prusa" --export-sla --printer-technology SLA --layer-height 0.1 \
      --bed-shape 0x0,203.2x0,203.2x254,0x254 --display-width 203.2 --display-height 254 \
      --display-pixels-x 2400 --display-pixels-y 3000 --no-supports-enable --no-pad-enable \
      "$@" --output "$work/out.sl1" "$work/sphere1m.stl"
  }
  read -r s0 mb < <(sla)
  row "PrusaSlicer SLA export" "$s0" "$mb"
  read -r s1 mb < <(sla --hollowing-enable --hollowing-min-thickness 3)
  row "PrusaSlicer SLA export with hollowing, 3 mm" "$s1" "$mb"
  row "what PrusaSlicer's hollowing adds" "$(awk "BEGIN { printf \"%.2f\", $s1 - $s0 }")" -
else
  echo "prusa-slicer is not installed: its rows are left out"
fi
read -r s mb < <(measure "$build/bin/mesh_bench" voidsplit sphere1m.obj "$work/split.obj" 200)
row "mesh_bench voidsplit, 200 micrometres" "$s" "$mb"
if [ -n "${REFERENCE:-}" ]; then
  read -r s mb < <(measure "$build/bin/mesh_bench" voidsplit sphere1m.obj "$work/plain.obj" 200 plain)
  row "the same with the plain walk" "$s" "$mb"
  cmp -s "$work/split.obj" "$work/plain.obj" && echo "(the same file)" || echo "(FILES DIFFER)"
fi
echo "machine: $(nproc) processors, $(awk '/MemTotal/ {printf "%.0f GiB", $2/1048576}' /proc/meminfo), $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ //'), load $(cut -d' ' -f1 /proc/loadavg)"
[ -z "$prusa" ] || echo "PrusaSlicer: $(dpkg-query -W -f='${Version}' prusa-slicer 2>/dev/null)"

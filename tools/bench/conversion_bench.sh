#!/usr/bin/env bash
# Conversion benchmark: slices the 1,000,000-facet 80 mm sphere of the
# slicer benchmark at 100 micrometres with layertint, then times the scan of
# the .p3d (one reading of the file) and its conversion into .dmc jetting
# data. The machine may be shared, so the runs are interleaved: every round
# runs each configuration once (a process of its own, scan and conversion
# timed in the same run), and the figures are the medians over the rounds.
#
#   tools/bench/conversion_bench.sh [BUILD_DIR] [--rounds N] [--workers "LIST"]
#                                   [--against OTHER_BUILD_DIR] [--slow] [MODEL.stl]
#
# BUILD_DIR defaults to build/. --workers lists the configurations: worker
# counts, and "default" for the count a conversion chooses itself (default
# list: "default 1"). --against runs the conversion_bench of another build
# (an older commit, say) in the same rounds, paired with this one. --slow
# adds one run of the slot-by-slot column loop that the fast one is tested
# against.
set -euo pipefail

root=$(cd "$(dirname "$0")/../.." && pwd)
build=$root/build
if [ $# -gt 0 ] && [ "${1#--}" = "$1" ] && [ -d "$1" ]; then build=$1; shift; fi
slow=no
model=
rounds=5
configs="default 1"
against=
while [ $# -gt 0 ]; do
  case $1 in
    --slow) slow=yes ;;
    --rounds) rounds=$2; shift ;;
    --workers) configs=$2; shift ;;
    --against) against=$(cd "$2" && pwd); shift ;;
    *) model=$1 ;;
  esac
  shift
done
[ -d "$build" ] || { echo "no build folder $build (run scripts/build.sh first)" >&2; exit 2; }
build=$(cd "$build" && pwd)
[ -z "$model" ] || model=$(realpath "$model")
cmake --build "$build" --target layertint make_sphere conversion_bench -j4 >/dev/null
[ -z "$against" ] || [ -x "$against/bin/conversion_bench" ] || { echo "no conversion_bench in $against/bin" >&2; exit 2; }

work=$(mktemp -d "${TMPDIR:-/tmp}/conversion_bench.XXXXXX")
trap 'rm -rf "$work"' EXIT
if [ -z "$model" ]; then
  model=$work/sphere1m.stl
  "$build/bin/make_sphere" "$model" 80 1000000 >/dev/null
fi
# layertint appends its job log to the current folder: run it in the scratch one.
(cd "$work" && QT_QPA_PLATFORM=offscreen PRISM_NAMESPACE="bench$$_" "$build/bin/layertint" "-F$model" -L100 -W64 \
  -S64 -C50 -D1000 "-K$work/job.p3d" -E32767 >"$work/slice.log" 2>&1) || { tail -20 "$work/slice.log" >&2; exit 1; }

# One run: "LABEL scan conversion ratio" appended to the results.
run() {
  local label=$1 bench=$2 config=$3 line
  local args=(--p3d "$work/job.p3d" --microns 100 --repeat 1)
  [ "$config" = default ] || args+=(--workers "$config")
  line=$("$bench" "${args[@]}" | tail -1)
  echo "$line" | sed -E 's/.*scan ([0-9.]+) s, conversion ([0-9.]+) s \(.*, ([0-9]+) workers\), conversion\/scan ([0-9.]+)/\1 \2 \4 \3/' |
    awk -v l="$label" '{ print l, $1, $2, $3, $4 }' >>"$work/results"
}

"$build/bin/conversion_bench" --p3d "$work/job.p3d" --microns 100 --repeat 1 | head -1
for ((r = 1; r <= rounds; ++r)); do
  for c in $configs; do
    run "this:$c" "$build/bin/conversion_bench" "$c"
    [ -z "$against" ] || run "other:$c" "$against/bin/conversion_bench" "$c"
  done
done

median() { sort -n | awk '{ v[NR] = $1 } END { if (NR % 2) print v[(NR + 1) / 2]; else print (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
printf '%-16s %8s %6s %11s %11s %17s\n' build:workers threads runs "scan (s)" "conv. (s)" "conversion/scan"
for c in $configs; do
  for who in this other; do
    [ "$who" = this ] || [ -n "$against" ] || continue
    label=$who:$c
    grep -q "^$label " "$work/results" || continue
    printf '%-16s %8s %6d %11.3f %11.3f %17.2f\n' "$label" \
      "$(grep "^$label " "$work/results" | awk '{ print $5 }' | head -1)" \
      "$(grep -c "^$label " "$work/results")" \
      "$(grep "^$label " "$work/results" | awk '{ print $2 }' | median)" \
      "$(grep "^$label " "$work/results" | awk '{ print $3 }' | median)" \
      "$(grep "^$label " "$work/results" | awk '{ print $4 }' | median)"
  done
done
[ "$slow" = no ] || "$build/bin/conversion_bench" --p3d "$work/job.p3d" --microns 100 --repeat 1 --workers 1 --slow | tail -1
echo "machine: $(nproc) processors usable, $(awk '/MemTotal/ {printf "%.0f GiB", $2/1048576}' /proc/meminfo), $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ //'), load $(cut -d' ' -f1 /proc/loadavg)"

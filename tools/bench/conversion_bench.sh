#!/usr/bin/env bash
# Conversion benchmark: slices the 1,000,000-facet 80 mm sphere of the
# slicer benchmark at 100 micrometres with layertint, then times the scan of
# the .p3d (one reading of the file) and its conversion into .dmc jetting
# data, best of five: with the default worker threads and with everything
# on one thread; with --slow also the slot-by-slot column loop that the
# fast one is tested against (one thread, one run).
#
#   tools/bench/conversion_bench.sh [BUILD_DIR] [--slow] [MODEL.stl]
#
# BUILD_DIR defaults to build/.
set -euo pipefail

root=$(cd "$(dirname "$0")/../.." && pwd)
build=$root/build
if [ $# -gt 0 ] && [ "${1#--}" = "$1" ] && [ -d "$1" ]; then build=$1; shift; fi
slow=no
model=
for a in "$@"; do
  case $a in
    --slow) slow=yes ;;
    *) model=$a ;;
  esac
done
[ -d "$build" ] || { echo "no build folder $build (run scripts/build.sh first)" >&2; exit 2; }
build=$(cd "$build" && pwd)
[ -z "$model" ] || model=$(realpath "$model")
cmake --build "$build" --target layertint make_sphere conversion_bench -j4 >/dev/null

work=$(mktemp -d "${TMPDIR:-/tmp}/conversion_bench.XXXXXX")
trap 'rm -rf "$work"' EXIT
if [ -z "$model" ]; then
  model=$work/sphere1m.stl
  "$build/bin/make_sphere" "$model" 80 1000000 >/dev/null
fi
# layertint appends its job log to the current folder: run it in the scratch one.
(cd "$work" && QT_QPA_PLATFORM=offscreen PRISM_NAMESPACE="bench$$_" "$build/bin/layertint" "-F$model" -L100 -W64 \
  -S64 -C50 -D1000 "-K$work/job.p3d" -E32767 >"$work/slice.log" 2>&1) || { tail -20 "$work/slice.log" >&2; exit 1; }

"$build/bin/conversion_bench" --p3d "$work/job.p3d" --microns 100 --repeat 5
"$build/bin/conversion_bench" --p3d "$work/job.p3d" --microns 100 --repeat 5 --workers 1 | tail -1
[ "$slow" = no ] || "$build/bin/conversion_bench" --p3d "$work/job.p3d" --microns 100 --repeat 1 --workers 1 --slow | tail -1
echo "machine: $(nproc) processors, $(awk '/MemTotal/ {printf "%.0f GiB", $2/1048576}' /proc/meminfo), $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ //'), load $(cut -d' ' -f1 /proc/loadavg)"

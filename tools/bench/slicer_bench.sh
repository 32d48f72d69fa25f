#!/usr/bin/env bash
# Slicer benchmark: slices an 80 mm sphere of about 160,000 facets and one of
# about 1,000,000 facets at 100 micrometres with layertint and, side by side,
# with PrusaSlicer's SLA raster export at 300 dpi (no supports, no pad), and
# prints wall time and peak memory of each run.
#
#   tools/bench/slicer_bench.sh [BUILD_DIR] [MODEL.stl ...]
#
# BUILD_DIR defaults to build/. Models given after it are sliced instead of
# the generated spheres. PrusaSlicer (Debian package prusa-slicer) is
# installed when it is missing and the script runs as root; without it only
# layertint is measured.
set -euo pipefail

root=$(cd "$(dirname "$0")/../.." && pwd)
build=${1:-$root/build}
shift || true
[ -d "$build" ] || { echo "no build folder $build (run scripts/build.sh first)" >&2; exit 2; }
build=$(cd "$build" && pwd)
cmake --build "$build" --target layertint make_sphere -j4 >/dev/null

work=$(mktemp -d "${TMPDIR:-/tmp}/slicer_bench.XXXXXX")
trap 'rm -rf "$work"' EXIT

models=()
for m in "$@"; do models+=("$(realpath "$m")"); done
if [ ${#models[@]} -eq 0 ]; then
  "$build/bin/make_sphere" "$work/sphere160k.stl" 80 160000
  "$build/bin/make_sphere" "$work/sphere1m.stl" 80 1000000
  models=("$work/sphere160k.stl" "$work/sphere1m.stl")
fi

prusa=$(command -v prusa-slicer || true)
if [ -z "$prusa" ] && [ "$(id -u)" = 0 ] && command -v apt-get >/dev/null; then
  echo "installing prusa-slicer for the comparison..."
  if DEBIAN_FRONTEND=noninteractive apt-get install -y -qq prusa-slicer >/dev/null 2>&1 ||
    { apt-get update -qq >/dev/null 2>&1 &&
      DEBIAN_FRONTEND=noninteractive apt-get install -y -qq prusa-slicer >/dev/null 2>&1; }; then
    prusa=$(command -v prusa-slicer || true)
  fi
fi
[ -n "$prusa" ] || echo "prusa-slicer is not available: measuring layertint alone"

# Runs a command in the scratch folder (layertint keeps its job log in the
# current folder), prints "seconds peak-KB" (GNU time), fails with its output.
measure() {
  local log="$work/run.log"
  if ! (cd "$work" && /usr/bin/time -f "%e %M" -o "$work/time" "$@" >"$log" 2>&1); then
    echo "FAILED: $*" >&2
    tail -20 "$log" >&2
    return 1
  fi
  cat "$work/time"
}

printf '%-16s %-13s %9s %12s %9s %12s\n' model facets "lt s" "lt peak MB" "prusa s" "prusa MB"
for m in "${models[@]}"; do
  facets=$(( ($(stat -c %s "$m") - 84) / 50 ))
  read -r lt_s lt_kb < <(QT_QPA_PLATFORM=offscreen PRISM_NAMESPACE="bench$$_" \
    measure "$build/bin/layertint" "-F$m" -L100 -W64 -S64 -C50 -D1000 "-K$work/out.p3d" -E32767)
  p_s=- p_mb=-
  if [ -n "$prusa" ]; then
    # 2400 x 3000 pixels over a 203.2 x 254 mm display and bed: 300 dpi.
    # PrusaSlicer refuses some models layertint slices (self-intersecting
    # soup): the row then says so and the next model is measured.
    if read -r p_s p_kb < <(measure "$prusa" --export-sla --printer-technology SLA --layer-height 0.1 \
      --bed-shape 0x0,203.2x0,203.2x254,0x254 --display-width 203.2 --display-height 254 \
      --display-pixels-x 2400 --display-pixels-y 3000 --no-supports-enable --no-pad-enable \
      --output "$work/out.sl1" "$m"); then
      p_mb=$(( p_kb / 1024 ))
    else
      p_s=refused
    fi
  fi
  printf '%-16s %-13s %9s %12s %9s %12s\n' "$(basename "$m")" "$facets" "$lt_s" "$(( lt_kb / 1024 ))" "$p_s" "$p_mb"
done
echo "machine: $(nproc) processors, $(awk '/MemTotal/ {printf "%.0f GiB", $2/1048576}' /proc/meminfo), $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ //')"

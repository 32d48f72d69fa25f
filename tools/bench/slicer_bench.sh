#!/usr/bin/env bash
# Slicer benchmark: slices an 80 mm sphere of about 160,000 facets and one of
# about 1,000,000 facets at 100 micrometres with layertint and, side by side,
# with PrusaSlicer's SLA raster export at 300 dpi (no supports, no pad), and
# prints wall time and peak memory of each run.
#
#   tools/bench/slicer_bench.sh [BUILD_DIR] [MODEL.stl ...]
#
# BUILD_DIR defaults to build/. Models given after it are sliced instead of
# the generated spheres (with the support file beside each, as layertint
# reads it; its "S" scale goes to PrusaSlicer too). PrusaSlicer (Debian
# package prusa-slicer) is used where it is installed; the script never
# installs it, and without it only layertint is measured. PRISM_WORKERS,
# when set, is the number of layertint's slicing threads (by default one
# per processor it may use).
#
# Paired runs on a busy machine: RUNS=n runs every program n times in turn
# and prints the medians; BEFORE=path/to/an/older/layertint runs that one
# too, interleaved with the new one, and says whether the two jobs are the
# same byte for byte.
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

runs=${RUNS:-1}
before=${BEFORE:-}
[ -z "$before" ] || before=$(realpath "$before")

# The median of the numbers given.
median() { printf '%s\n' "$@" | sort -g | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

slice() {  # slice PROGRAM MODEL OUTPUT
  QT_QPA_PLATFORM=offscreen PRISM_NAMESPACE="bench$$_" \
    measure "$1" "-F$2" -L100 -W64 -S64 -C50 -D1000 "-K$3" -E32767
}

printf '%-20s %-9s %9s %9s %9s %9s %9s %9s %s\n' model facets "lt s" "lt MB" "before s" "before MB" "prusa s" "prusa MB" "same"
for m in "${models[@]}"; do
  facets=$(( ($(stat -c %s "$m") - 84) / 50 ))
  lt_t=() lt_m=() b_t=() b_m=() p_t=() p_m=()
  # A model scaled by an "S" line of its support file is scaled as much for
  # PrusaSlicer, so that both slice the same solid.
  scale=()
  if [ -f "${m%.*}.sup" ]; then
    factor=$(awk '$1 == "S" { print $2; exit }' "${m%.*}.sup")
    [ -z "$factor" ] || scale=(--scale "$factor")
  fi
  same=-
  for ((i = 0; i < runs; i++)); do
    read -r s kb < <(slice "$build/bin/layertint" "$m" "$work/out.p3d")
    lt_t+=("$s") lt_m+=("$(( kb / 1024 ))")
    if [ -n "$before" ]; then
      read -r s kb < <(slice "$before" "$m" "$work/before.p3d")
      b_t+=("$s") b_m+=("$(( kb / 1024 ))")
      if cmp -s "$work/out.p3d" "$work/before.p3d"; then [ "$same" = NO ] || same=yes; else same=NO; fi
    fi
    if [ -n "$prusa" ]; then
      # 2400 x 3000 pixels over a 203.2 x 254 mm display and bed: 300 dpi.
      # PrusaSlicer refuses some models layertint slices (self-intersecting
      # soup): the row then says so and the next model is measured.
      if read -r s kb < <(measure "$prusa" --export-sla --printer-technology SLA --layer-height 0.1 \
        --bed-shape 0x0,203.2x0,203.2x254,0x254 --display-width 203.2 --display-height 254 \
        --display-pixels-x 2400 --display-pixels-y 3000 --no-supports-enable --no-pad-enable \
        "${scale[@]}" --output "$work/out.sl1" "$m"); then
        p_t+=("$s") p_m+=("$(( kb / 1024 ))")
      fi
    fi
  done
  b_s=- b_mb=- p_s=- p_mb=-
  [ ${#b_t[@]} -eq 0 ] || { b_s=$(median "${b_t[@]}"); b_mb=$(median "${b_m[@]}"); }
  if [ -n "$prusa" ]; then
    if [ ${#p_t[@]} -eq 0 ]; then p_s=refused; else p_s=$(median "${p_t[@]}"); p_mb=$(median "${p_m[@]}"); fi
  fi
  printf '%-20s %-9s %9s %9s %9s %9s %9s %9s %s\n' "$(basename "$m")" "$facets" "$(median "${lt_t[@]}")" \
    "$(median "${lt_m[@]}")" "$b_s" "$b_mb" "$p_s" "$p_mb" "$same"
done
echo "machine: $(nproc) processors, $(awk '/MemTotal/ {printf "%.0f GiB", $2/1048576}' /proc/meminfo), $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ //')"

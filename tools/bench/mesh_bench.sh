#!/usr/bin/env bash
# Mesh-tool benchmark: OBJ and 3MF to binary STL with prismhost's mesh tools
# (the driver `mesh_bench`, which runs the host's conversion road in a
# process of its own; `prismhost -F MODEL.obj -T` does the same after its
# 1 s start-up timer) next to the
# Open Asset Import Library's command-line tool (`assimp export MODEL.obj
# OUT.stl -fstlb`, Debian package assimp-utils, installed here when missing),
# on the largest OBJ of the shared sample models, on a generated UV sphere
# of about 1,000,000 triangles and on the same sphere as a 3MF package whose
# triangles take their colours from a colour group. Wall time and peak resident memory from GNU
# time, best of three runs each; both include starting the program, reading
# the model and writing the STL.
#
#   tools/bench/mesh_bench.sh [BUILD_DIR] [MODEL.obj|MODEL.3mf ...]
#
# BUILD_DIR defaults to build/. Without models: ../shared/models'
# skull.obj (when present) and the generated spheres.
set -euo pipefail

root=$(cd "$(dirname "$0")/../.." && pwd)
build=$root/build
if [ $# -gt 0 ] && [ -d "$1" ]; then build=$1; shift; fi
[ -d "$build" ] || { echo "no build folder $build (run scripts/build.sh first)" >&2; exit 2; }
build=$(cd "$build" && pwd)
cmake --build "$build" --target mesh_bench make_obj_sphere make_3mf_sphere -j4 >/dev/null

need=()
command -v assimp >/dev/null || need+=(assimp-utils)
[ -x /usr/bin/time ] || need+=(time)
if ((${#need[@]})); then
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq && apt-get install -y -qq --no-install-recommends "${need[@]}" >/dev/null
fi

work=$(mktemp -d "${TMPDIR:-/tmp}/mesh_bench.XXXXXX")
trap 'rm -rf "$work"' EXIT
models=()
for m in "$@"; do models+=("$(realpath "$m")"); done
if ((${#models[@]} == 0)); then
  for shared in "$root/../shared" "$root/../../shared"; do
    skull=$shared/models/odedstein-meshes/skull/skull.obj
    if [ -f "$skull" ]; then
      models+=("$(realpath "$skull")")
      break
    fi
  done
  "$build/bin/make_obj_sphere" "$work/sphere1m.obj" 40 1000000 >/dev/null
  models+=("$work/sphere1m.obj")
  "$build/bin/make_3mf_sphere" "$work/sphere1m.3mf" 40 1000000 >/dev/null
  models+=("$work/sphere1m.3mf")
fi

# best of three: "seconds peak_kB"
best() {
  local out=$work/time.txt best_s= best_k=
  for _ in 1 2 3; do
    /usr/bin/time -f "%e %M" -o "$out" "$@" >/dev/null 2>&1 || { echo "failed: $*" >&2; cat "$out" >&2; exit 1; }
    read -r s k <"$out"
    if [ -z "$best_s" ] || awk "BEGIN{exit !($s < $best_s)}"; then best_s=$s; best_k=$k; fi
  done
  echo "$best_s $best_k"
}

printf '| model | triangles | prismhost wall | prismhost peak | assimp wall | assimp peak |\n|---|---|---|---|---|---|\n'
for model in "${models[@]}"; do
  run=$work/run
  rm -rf "$run"
  mkdir -p "$run"
  cp "$model" "$run/"
  mtl=${model%.*}.mtl
  [ -f "$mtl" ] && cp "$mtl" "$run/"
  name=$(basename "$model")
  case $name in
    *.obj) triangles=$(awk '/^f /{n += NF - 3} END{print n}' "$run/$name") ;;
    *) triangles=$(cd "$run" && "$build/bin/mesh_bench" "$name" | sed -n 's/.*: \([0-9]*\) facets.*/\1/p') ;;
  esac
  read -r ps pk < <(cd "$run" && QT_QPA_PLATFORM=offscreen best "$build/bin/mesh_bench" "$name")
  [ -s "$run/convertedobj.stl" ] || { echo "prismhost wrote no STL for $name" >&2; exit 1; }
  read -r as ak < <(cd "$run" && best assimp export "$name" out.stl -fstlb)
  printf '| %s | %s | %s s | %d MB | %s s | %d MB |\n' "$name" "$triangles" "$ps" $((pk / 1024)) "$as" $((ak / 1024))
done
echo "machine: $(nproc) processors, $(awk '/MemTotal/ {printf "%.0f GiB", $2/1048576}' /proc/meminfo), $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ //'), load $(cut -d' ' -f1 /proc/loadavg)"
echo "assimp: $(dpkg-query -W -f='${Version}' assimp-utils 2>/dev/null)"

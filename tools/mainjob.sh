#!/usr/bin/env bash
# The main job: both simulated machines on loopback, and prismhost printing
# a bundled coloured model unattended (-B) in a scratch work folder. It
# slices the model with layertint, converts it into jetting data ("temp.dmc"),
# prints it stretch by stretch and layer by layer, showing its progress line
# as it goes, then says goodbye to the machines and closes. Its operator log
# and what the machines saw are shown at the end.
# Usage: tools/mainjob.sh <build folder> [model.stl]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-build}" && pwd)
model=${2:-$root/testdata/slicer/20mm-xyz-cube.stl}
work=$(mktemp -d)
sims=()
cleanup() {
  for pid in "${sims[@]}"; do kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
cp "$model" "$work/model.stl"
cd "$work"

# Each simulator serves one peer on a port of 127.0.0.1 that the system
# chooses, announced as "port N" on its standard output.
"$build/bin/marlin_sim" --port 0 --log marlin.log --idle-timeout 600 > marlin.port &
sims+=($!)
"$build/bin/inkjet_sim" --port 0 --log unit.log --idle-timeout 600 > unit.port &
sims+=($!)
port_of() {
  for _ in $(seq 100); do
    if grep -q '^port ' "$1"; then awk '/^port /{print $2}' "$1"; return; fi
    sleep 0.1
  done
  echo "no port from $1" >&2
  exit 1
}
cat > prismhost.i3d <<SETTINGS
CommPortMarlin = "127.0.0.1:$(port_of marlin.port)"
CommInkDevice = "127.0.0.1:$(port_of unit.port)"
SETTINGS

export PRISM_NAMESPACE="mainjob$$_"
unset DISPLAY WAYLAND_DISPLAY
# Standard output carries the progress line; standard error only Qt's notes.
"$build/bin/prismhost" -F model.stl -B 2>/dev/null && rc=0 || rc=$?
echo "prismhost ended with status $rc; its log:"
cat prismhost.log
echo "the jetting unit decoded $(grep -c '^stretch ' unit.log) stretches, $(grep '^bytes ' unit.log | tail -1 || true)"
echo "the motion machine executed $(grep -c '^exec ' marlin.log) G-code lines"
exit "$rc"

#!/usr/bin/env bash
# The main job: prismhost, unattended in a scratch work folder, opens a
# coloured model, has layertint slice it, converts the job into jetting data
# ("temp.dmc"), judges the build time and fit, and closes. Its operator log
# is shown at the end. Usage: tools/mainjob.sh <build folder> [model.stl]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-build}" && pwd)
model=${2:-$root/testdata/slicer/20mm-xyz-cube.stl}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cp "$model" "$work/model.stl"
cd "$work"
export PRISM_NAMESPACE="mainjob$$_"
unset DISPLAY WAYLAND_DISPLAY

"$build/bin/prismhost" -F model.stl -V 2>/dev/null && rc=0 || rc=$?
echo "prismhost ended with status $rc; its log:"
cat prismhost.log
ls -l model.p3d temp.dmc
exit "$rc"

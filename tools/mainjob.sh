#!/usr/bin/env bash
# The main job: runs prismhost unattended in a scratch work folder and shows
# its operator log. Usage: tools/mainjob.sh <build folder>
set -euo pipefail
build=$(cd "${1:-build}" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
export PRISM_NAMESPACE="mainjob$$_"
unset DISPLAY WAYLAND_DISPLAY

# prismhost shows its usage on its log; a termination request closes it the
# way the window's close button does, which appends the log to prismhost.log.
"$build/bin/prismhost" -? 2>/dev/null &
pid=$!
sleep 3
kill -TERM "$pid"
wait "$pid" && rc=0 || rc=$?
echo "prismhost ended with status $rc; its log:"
cat prismhost.log

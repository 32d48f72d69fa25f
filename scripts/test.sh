#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test: first in the normal
# build (build/), then once more built with AddressSanitizer and
# UndefinedBehaviorSanitizer (build-asan/). PRISM_SKIP_SANITIZERS=1 skips
# the second pass.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
jobs=$(nproc)

BUILD_DIR=build scripts/build.sh "$@"
(cd build && ctest --output-on-failure --parallel "$jobs" --timeout 300)

if [ "${PRISM_SKIP_SANITIZERS:-0}" != 1 ]; then
  BUILD_DIR=build-asan scripts/build.sh -DPRISM_SANITIZE=ON "$@"
  (cd build-asan && ctest --output-on-failure --parallel "$jobs" --timeout 600)
fi

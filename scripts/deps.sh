#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need, only when one is
# missing (so a prepared machine never touches the network).
set -euo pipefail
pkgs=(cmake ninja-build g++ pkg-config qt6-base-dev qt6-image-formats-plugins libjpeg62-turbo-dev libzip-dev zlib1g-dev libgtest-dev libgmock-dev socat libexpat1-dev libmeshoptimizer-dev)
missing=()
for p in "${pkgs[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if ((${#missing[@]})); then
  echo "installing: ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

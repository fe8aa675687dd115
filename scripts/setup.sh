#!/usr/bin/env bash
# Installs what the build needs (Debian 12, as root), then configures and builds into build/.
# Usage: scripts/setup.sh [extra Debian packages...]
# STRANDIS_TARGETS="strandis" builds only those targets (default: everything, tests included).
set -euo pipefail
cd "$(dirname "$0")/.."

packages=(cmake g++ ninja-build pkg-config libgtest-dev libcli11-dev nlohmann-json3-dev
  qt6-base-dev libjpeg-dev libpugixml-dev libdvdread-dev fonts-dejavu-core "$@")
missing=()
for package in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" || missing+=("$package")
done
if [ ${#missing[@]} -gt 0 ]; then
  if [ "$(id -u)" -ne 0 ]; then
    echo "Missing Debian packages: ${missing[*]}. Run as root, or install them with: sudo apt-get install ${missing[*]}" >&2
    exit 1
  fi
  echo "Installing ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

# A build folder made earlier keeps its generator; a new one uses Ninja.
generator=(-G Ninja)
if [ -f build/CMakeCache.txt ]; then generator=(); fi
cmake -S . -B build "${generator[@]}" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
targets=()
for target in ${STRANDIS_TARGETS:-}; do targets+=(--target "$target"); done
cmake --build build --parallel "${targets[@]}"

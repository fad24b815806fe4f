#!/usr/bin/env bash
# Installs every Debian package the build, tests and benchmarks need, then configures and
# builds. Idempotent; run as root on Debian 12 (or with sudo available).
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${RILLOW_BUILD_DIR:-$here/build}"

packages=$(grep -v '^#' "$here/scripts/debian-packages.txt" | tr '\n' ' ')
missing=()
for p in $packages; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  sudo=""
  [ "$(id -u)" -eq 0 ] || sudo="sudo"
  export DEBIAN_FRONTEND=noninteractive
  $sudo apt-get update -q
  $sudo apt-get install -y -q --no-install-recommends "${missing[@]}"
fi

cmake -S "$here" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DRILLOW_WERROR=ON
cmake --build "$build" --parallel "$(nproc)"

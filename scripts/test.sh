#!/usr/bin/env bash
# Set-up, build, then the whole test suite. Every test runs in loopback mode.
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${RILLOW_BUILD_DIR:-$here/build}"
"$here/scripts/setup.sh"
export RILLOW_NETWORK=loopback
cd "$build"
ctest --output-on-failure --parallel "$(nproc)" --timeout 300

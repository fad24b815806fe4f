#!/usr/bin/env bash
# Set-up, build, then Rillow's main job.
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${RILLOW_BUILD_DIR:-$here/build}"
"$here/scripts/setup.sh"
exec "$build/app/rillow" "$@"

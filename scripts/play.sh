#!/usr/bin/env bash
# Installs what is needed, builds, and plays the film full screen.
# Usage: scripts/play.sh [720|1080]   (default 1080)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$root/build}
size=${1:-1080}
case "$size" in
  720 | 1080) ;;
  *) echo "play: unknown size '$size' (use 720 or 1080)" >&2; exit 2 ;;
esac
"$root/scripts/setup.sh"
"$root/scripts/build.sh"
cd "$build"
exec "./demo$size"

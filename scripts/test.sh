#!/usr/bin/env bash
# Installs what is needed, builds, and runs every test. GL tests need a
# display: without one they run under a private Xvfb server.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$root/build}
"$root/scripts/setup.sh"
"$root/scripts/build.sh"
cd "$build"
if [[ -n "${DISPLAY:-}" ]]; then
  ctest --output-on-failure "$@"
else
  xvfb-run -a -s "-screen 0 1280x720x24" ctest --output-on-failure "$@"
fi

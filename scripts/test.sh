#!/usr/bin/env bash
# Installs what is needed, builds, and runs every test. The GL tests render
# through EGL when there is no display (no X server at all); the tests that
# need a window system (label x11) run on $DISPLAY, or on a private Xvfb
# server without one.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$root/build}
"$root/scripts/setup.sh"
"$root/scripts/build.sh"
source "$root/scripts/lib/xvfb.sh"
cd "$build"
status=0
ctest --output-on-failure -LE x11 "$@" || status=$?
on_display ctest --output-on-failure -L x11 "$@" || status=$?
exit "$status"

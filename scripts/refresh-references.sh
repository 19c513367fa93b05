#!/usr/bin/env bash
# Renders the reference frames that tests/reference_test.cpp compares the film
# with: stills at 320 x 180 and 60 frames per second, written to
# tests/reference/. Run it after an intended change of the picture, look at
# the new frames, and commit them with the change.
# Usage: scripts/refresh-references.sh
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$root/build}
moments=3,13,30,58,70

cmake -S "$root" --preset native -B "$build" >/dev/null
cmake --build "$build" -j"$(nproc)" --target demo-capture >/dev/null
reference="$root/tests/reference"
rm -f "$reference"/still-*.png
mkdir -p "$reference"
cd "$build"
capture=(./demo-capture --size 320x180 --fps 60 --at "$moments" --out "$reference")
if [[ -n "${DISPLAY:-}" ]]; then
  "${capture[@]}"
else
  xvfb-run -a -s "-screen 0 1280x720x24" "${capture[@]}"
fi
echo "refresh-references: wrote $(ls "$reference"/still-*.png | wc -l) frames to $reference"

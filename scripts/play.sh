#!/usr/bin/env bash
# Installs what is needed, builds, and plays the film full screen. Without a
# display ($DISPLAY unset) it renders the film to build/film.mp4 instead, at
# 640 x 360 and 30 frames per second (or $VIDEO_SIZE and $VIDEO_FPS), through
# EGL with no X server: 8 to 20 minutes on a software renderer.
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
if [[ -z "${DISPLAY:-}" ]]; then
  video="$build/film.mp4"
  echo "play: no display; rendering the film to $video instead" >&2
  ./demo-capture --gl egl --video "$video" \
    --size "${VIDEO_SIZE:-640x360}" --fps "${VIDEO_FPS:-30}"
  echo "play: the film is in $video"
  exit 0
fi
exec "./demo$size"

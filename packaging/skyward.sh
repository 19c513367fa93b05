#!/bin/sh
# skyward: plays the film full screen. The programs read their assets from
# the working directory, so this changes to the asset folder first.
# Usage: skyward [1080|720]   (default 1080)
set -e
size=${1:-1080}
case "$size" in
  720 | 1080) ;;
  *) echo "skyward: unknown size '$size' (use 720 or 1080)" >&2; exit 2 ;;
esac
cd @ASSET_DIR@
exec @PROGRAM_DIR@/demo"$size"

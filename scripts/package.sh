#!/usr/bin/env bash
# Builds the two release packages into dist/ (or $DIST_DIR):
#   skyward-<version>-windows-x64.zip  the Windows programs, assets, read-me
#                                      and notices (scripts/windows.sh builds them)
#   skyward_<version>_amd64.deb        the Debian package, its dependencies
#                                      computed from the programs
# The version is the CMake project's.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
native=${BUILD_DIR:-$root/build}
windows=${WINDOWS_BUILD_DIR:-$root/build-windows}
dist=${DIST_DIR:-$root/dist}

"$root/scripts/setup.sh" --windows
BUILD_DIR=$native WINDOWS_BUILD_DIR=$windows "$root/scripts/windows.sh"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$dist"
for build in "$windows" "$native"; do
  (cd "$build" && cpack -B "$work" >"$work/cpack.log" 2>&1) || {
    tail -n 20 "$work/cpack.log" >&2
    echo "package: cpack failed in $build" >&2
    exit 1
  }
done
for file in "$work"/*.zip "$work"/*.deb; do
  mv "$file" "$dist/"
  echo "package: $(basename "$file") ($(du -k "$dist/$(basename "$file")" | cut -f1) KiB)"
done

#!/usr/bin/env bash
# Builds the three release packages into dist/ (or $DIST_DIR):
#   skyward-<version>-windows-x64.zip  the Windows programs, assets, read-me
#                                      and notices (scripts/windows.sh builds them)
#   skyward_<version>_amd64.deb        the Debian package, its dependencies
#                                      computed from the programs
#   skyward-<version>-web.zip          the web site (scripts/web.sh builds it):
#                                      one folder to unzip onto any static host
# The version is the CMake project's. With --deb, only the Debian package, its
# dependencies those of the release it is built on.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
native=${BUILD_DIR:-$root/build}
windows=${WINDOWS_BUILD_DIR:-$root/build-windows}
dist=${DIST_DIR:-$root/dist}
case ${1:-} in
  "") builds=("$windows" "$native") ;;
  --deb) builds=("$native") ;;
  *)
    echo "package: unknown flag '$1' (use --deb, or none for all three packages)" >&2
    exit 2
    ;;
esac

if [[ ${1:-} == --deb ]]; then
  # Configured again once help2man is there, so that the manual pages are made.
  "$root/scripts/setup.sh" --deb
  BUILD_DIR=$native "$root/scripts/build.sh"
else
  "$root/scripts/setup.sh" --windows
  BUILD_DIR=$native WINDOWS_BUILD_DIR=$windows "$root/scripts/windows.sh"
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$dist"
for build in "${builds[@]}"; do
  (cd "$build" && cpack -B "$work" >"$work/cpack.log" 2>&1) || {
    tail -n 20 "$work/cpack.log" >&2
    echo "package: cpack failed in $build" >&2
    exit 1
  }
done
for file in "$work"/*.zip "$work"/*.deb; do
  [[ -e $file ]] || continue
  mv "$file" "$dist/"
  echo "package: $(basename "$file") ($(du -k "$dist/$(basename "$file")" | cut -f1) KiB)"
done
[[ ${1:-} != --deb ]] || exit 0

# --- The web zip: the site folder as built, under one folder of its name. ---
web=${WEB_BUILD_DIR:-$root/build-web}
"$root/scripts/setup.sh" --web
BUILD_DIR=$native WEB_BUILD_DIR=$web "$root/scripts/web.sh" --build >/dev/null
version=$(sed -n 's/^project([a-z_]* VERSION \([0-9.]*\).*/\1/p' "$root/CMakeLists.txt")
web_name=skyward-$version-web
mkdir "$work/$web_name"
cp -r "$web/site/." "$work/$web_name/"
(cd "$work" && zip -qrX -n .gz:.png "$web_name.zip" "$web_name")
mv "$work/$web_name.zip" "$dist/"
echo "package: $web_name.zip ($(du -k "$dist/$web_name.zip" | cut -f1) KiB)"
# --- end of the web zip ---

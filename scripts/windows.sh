#!/usr/bin/env bash
# Cross-builds the film for 64-bit Windows with Debian's mingw-w64 toolchain
# into build-windows/ (or $WINDOWS_BUILD_DIR): demo1080.exe, demo720.exe,
# demo-capture.exe and the toolkit's tests. The libraries come from
# scripts/windows/deps.sh (built once into a cache), the asset files from the
# native build in build/ (or $BUILD_DIR), which is built first. Checks that
# each program needs no DLL beyond Windows' own.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
native=${BUILD_DIR:-$root/build}
build=${WINDOWS_BUILD_DIR:-$root/build-windows}
jobs=$(($(nproc) < 2 ? $(nproc) : 2))

"$root/scripts/setup.sh" --windows
prefix=$("$root/scripts/windows/deps.sh")
BUILD_DIR=$native "$root/scripts/build.sh"
cmake -S "$root" --preset windows -B "$build" -DCMAKE_PREFIX_PATH="$prefix" \
  -DCMAKE_FIND_ROOT_PATH="$prefix" -DFILM_ASSETS_FROM="$native" -DWINDOWS_NOTICES="$prefix/notices" \
  >/dev/null
cmake --build "$build" -j"$jobs"

# Windows' own DLLs (and the OpenGL one every Windows has): nothing else may
# be needed.
allowed='^(KERNEL32|USER32|GDI32|SHELL32|OPENGL32|ADVAPI32|msvcrt)\.dll$'
status=0
for program in "$build"/*.exe; do
  while read -r dll; do
    if ! [[ $dll =~ $allowed ]]; then
      echo "windows: $(basename "$program") needs $dll, which Windows does not have" >&2
      status=1
    fi
  done < <(x86_64-w64-mingw32-objdump -p "$program" | awk '/DLL Name:/ { print $3 }')
done
((status == 0)) || exit 1
echo "windows: built $(cd "$build" && ls *.exe | tr '\n' ' ')in $build"

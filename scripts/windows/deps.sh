#!/usr/bin/env bash
# Builds the libraries the film needs for 64-bit Windows (GLFW, GLEW, assimp
# with only its OBJ importer, minizip, GoogleTest) from Debian's own source
# packages with the mingw-w64 toolchain, as static libraries, into a cache
# folder outside the clone. Prints the folder (the prefix to give CMake) on
# stdout; everything else goes to stderr.
#
# The cache is keyed by this script, the toolchain file and the compiler's
# version: a change of any of them builds a new one. It is built in a
# temporary folder and renamed only when complete, so a failed or interrupted
# build never leaves a folder that a later run would trust.
#
# Sources come through scripts/lib/debian-source.sh, whose private apt
# configuration never changes the machine's apt setup.
# Usage: scripts/windows/deps.sh   (cache root: $SKYWARD_CACHE, default ~/.cache/skyward)
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
cache_root=${SKYWARD_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/skyward}
toolchain=$root/cmake/mingw-w64-x86_64.cmake
triple=x86_64-w64-mingw32
jobs=$(($(nproc) < 2 ? $(nproc) : 2))

fail() {
  echo "windows-deps: $*" >&2
  exit 1
}

"$root/scripts/setup.sh" --windows >&2
key=$({
  cat "$0" "$toolchain"
  $triple-g++-posix --version | head -n 1
} | sha256sum | cut -c1-16)
prefix=$cache_root/windows-deps-$key
if [[ -f $prefix/complete ]]; then
  echo "windows-deps: using the cache $prefix" >&2
  echo "$prefix"
  exit 0
fi

mkdir -p "$cache_root"
work=$(mktemp -d "$cache_root/windows-deps-$key.partial.XXXXXX")
trap 'rm -rf "$work"' EXIT
stage=$work/prefix
mkdir -p "$stage/include" "$stage/lib/pkgconfig" "$work/src"
started=$SECONDS

# Each source from the release's own archive (an update's source is not
# always served), through the one Debian source fetcher.
cd "$work/src"
for package in glfw3 glew assimp zlib; do
  tree=$("$root/scripts/lib/debian-source.sh" "$package/bookworm" "$work/fetch") ||
    fail "cannot fetch the Debian source of $package"
  mv "$tree" "$package"
done

cmake_cross=(-DCMAKE_TOOLCHAIN_FILE="$toolchain" -DCMAKE_BUILD_TYPE=Release
  -DCMAKE_INSTALL_PREFIX="$stage" -DCMAKE_PREFIX_PATH="$stage" -DCMAKE_FIND_ROOT_PATH="$stage"
  -DBUILD_SHARED_LIBS=OFF)
build_cmake() { # name source-folder options...
  local name=$1 source=$2
  shift 2
  echo "windows-deps: building $name" >&2
  {
    cmake -S "$source" -B "$work/build-$name" "${cmake_cross[@]}" "$@" &&
      cmake --build "$work/build-$name" -j"$jobs" &&
      cmake --install "$work/build-$name"
  } >"$work/$name.log" 2>&1 || {
    tail -n 20 "$work/$name.log" >&2
    fail "building $name for Windows failed"
  }
}

# GLFW 3.3.8.
build_cmake glfw glfw3 -DGLFW_BUILD_EXAMPLES=OFF -DGLFW_BUILD_TESTS=OFF -DGLFW_BUILD_DOCS=OFF

# GLEW 2.2.0: its one source file, static.
echo "windows-deps: building glew" >&2
mkdir -p "$stage/include/GL"
cp glew/include/GL/glew.h glew/include/GL/wglew.h "$stage/include/GL/"
$triple-gcc-posix -O2 -DGLEW_STATIC -DGLEW_NO_GLU -Iglew/include -c glew/src/glew.c -o "$work/glew.o" ||
  fail "building glew for Windows failed"
$triple-ar rcs "$stage/lib/libglew32.a" "$work/glew.o"

# minizip from zlib's sources (zlib itself is Debian's libz-mingw-w64-dev),
# found by assimp through pkg-config as an external unzip.
echo "windows-deps: building minizip" >&2
mkdir -p "$stage/include/minizip" "$work/minizip"
for name in ioapi unzip iowin32; do
  $triple-gcc-posix -O2 -c "zlib/contrib/minizip/$name.c" -o "$work/minizip/$name.o" ||
    fail "building minizip for Windows failed"
  cp "zlib/contrib/minizip/$name.h" "$stage/include/minizip/"
done
cp zlib/contrib/minizip/crypt.h "$stage/include/minizip/"
$triple-ar rcs "$stage/lib/libminizip.a" "$work"/minizip/*.o
cat >"$stage/lib/pkgconfig/minizip.pc" <<'EOF'
prefix=${pcfiledir}/../..
Name: minizip
Description: zip file reading from zlib's contrib folder
Version: 1.2.13
Cflags: -I\${prefix}/include/minizip
Libs: -L\${prefix}/lib -lminizip -lz
EOF

# assimp 5.2.5 with only the OBJ importer. Debian strips its bundled stb,
# utf8cpp, unzip and draco and patches it to use the system's: the headers of
# libstb-dev and libutfcpp-dev serve the cross build too (copied into the
# prefix so no other host header is seen); draco is turned off.
mkdir -p "$stage/include/stb"
cp /usr/include/stb/stb_image.h /usr/include/stb/stb_image_write.h "$stage/include/stb/"
cp -r /usr/include/utf8cpp/* "$stage/include/"
if [[ -f assimp/debian/patches/series ]]; then
  while read -r patch; do
    if [[ $patch == *draco* ]]; then
      patch -d assimp -R -p1 <"assimp/debian/patches/$patch" >/dev/null || fail "cannot revert $patch"
    fi
  done < <(grep -v '^#' assimp/debian/patches/series)
fi
PKG_CONFIG_LIBDIR=$stage/lib/pkgconfig PKG_CONFIG_SYSROOT_DIR= \
  build_cmake assimp assimp -DASSIMP_BUILD_ALL_IMPORTERS_BY_DEFAULT=OFF \
  -DASSIMP_BUILD_OBJ_IMPORTER=ON -DASSIMP_BUILD_ALL_EXPORTERS_BY_DEFAULT=OFF \
  -DASSIMP_NO_EXPORT=ON -DASSIMP_BUILD_TESTS=OFF -DASSIMP_BUILD_ASSIMP_TOOLS=OFF \
  -DASSIMP_BUILD_SAMPLES=OFF -DASSIMP_BUILD_DRACO=OFF -DASSIMP_BUILD_ZLIB=OFF \
  -DASSIMP_BUILD_MINIZIP=OFF -DASSIMP_INSTALL_PDB=OFF -DASSIMP_WARNINGS_AS_ERRORS=OFF \
  -DCMAKE_CXX_FLAGS="-I$stage/include -I$stage/include/stb" -DCMAKE_C_FLAGS="-I$stage/include"

# CLI11 (header only) from libcli11-dev, with a package file of its own so
# that find_package finds it in the prefix.
cp -r /usr/include/CLI "$stage/include/"
mkdir -p "$stage/lib/cmake/CLI11"
cat >"$stage/lib/cmake/CLI11/CLI11Config.cmake" <<'EOF'
if(NOT TARGET CLI11::CLI11)
  add_library(CLI11::CLI11 INTERFACE IMPORTED)
  set_target_properties(CLI11::CLI11 PROPERTIES
    INTERFACE_INCLUDE_DIRECTORIES "${CMAKE_CURRENT_LIST_DIR}/../../../include")
endif()
EOF

# GoogleTest from the sources libgtest-dev ships.
build_cmake googletest /usr/src/googletest -DINSTALL_GTEST=ON -DBUILD_GMOCK=OFF -Dgtest_disable_pthreads=OFF

# Licence notices of what the Windows programs link statically.
mkdir -p "$stage/notices"
cp glfw3/LICENSE.md "$stage/notices/GLFW.txt"
cp glew/LICENSE.txt "$stage/notices/GLEW.txt"
cp assimp/LICENSE "$stage/notices/assimp.txt"
cp zlib/debian/copyright "$stage/notices/zlib-and-minizip.txt"

touch "$stage/complete"
rm -rf "$prefix"
mv "$stage" "$prefix"
echo "windows-deps: built in $((SECONDS - started)) s into $prefix" >&2
echo "$prefix"

#!/usr/bin/env bash
# Builds the web build's one library from Debian's sources with Emscripten:
# the model importer with only its OBJ reader, and the zlib and unzip code it
# links against. Everything goes to a cache outside the clone, reused while
# it is complete:
#   $SKYWARD_WEB_CACHE (default ~/.cache/skyward-web)/prefix/{include,lib}
# Prints the prefix. The importer reports unreadable files by throwing, so it
# is built, like the program, with exceptions that can be caught.
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
cache=${SKYWARD_WEB_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/skyward-web}
prefix=$cache/prefix
jobs=${JOBS:-2}
# What the libraries were built with; a change rebuilds them.
recipe="assimp OBJ only, C++ exceptions caught (-fexceptions)"
if [[ -f $prefix/recipe && $(cat "$prefix/recipe") == "$recipe" ]]; then
  echo "$prefix"
  exit 0
fi
mkdir -p "$cache/src" "$cache/build" "$prefix/lib/pkgconfig" "$prefix/include"

zlib_src=$("$root/scripts/lib/debian-source.sh" zlib/bookworm "$cache/src")
assimp_src=$("$root/scripts/lib/debian-source.sh" assimp/bookworm "$cache/src")

# zlib, static: its C files compiled one by one (its own build wants a
# configure step that cross-compiling does not need).
mkdir -p "$cache/build/zlib"
objects=()
cp "$zlib_src/zconf.h.in" "$cache/build/zlib/zconf.h"
for file in adler32 compress crc32 deflate infback inffast inflate inftrees trees uncompr zutil; do
  emcc -O2 -I"$cache/build/zlib" -c "$zlib_src/$file.c" -o "$cache/build/zlib/$file.o"
  objects+=("$cache/build/zlib/$file.o")
done
rm -f "$prefix/lib/libz.a"
emar rcs "$prefix/lib/libz.a" "${objects[@]}"
cp "$zlib_src/zlib.h" "$cache/build/zlib/zconf.h" "$prefix/include/"

# The unzip part of zlib's minizip, which the importer reads archives with.
mkdir -p "$cache/build/minizip" "$prefix/include/minizip"
for file in ioapi unzip; do
  emcc -O2 -I"$prefix/include" -DNOCRYPT -DIOAPI_NO_64 -c "$zlib_src/contrib/minizip/$file.c" \
    -o "$cache/build/minizip/$file.o"
done
rm -f "$prefix/lib/libminizip.a"
emar rcs "$prefix/lib/libminizip.a" "$cache/build/minizip/ioapi.o" "$cache/build/minizip/unzip.o"
cp "$zlib_src/contrib/minizip/"{ioapi.h,unzip.h,crypt.h} "$prefix/include/minizip/"
cat >"$prefix/lib/pkgconfig/minizip.pc" <<PC
prefix=$prefix
Name: minizip
Description: unzip part of zlib's minizip
Version: 1.2.13
Cflags: -I\${prefix}/include/minizip -I\${prefix}/include
Libs: -L\${prefix}/lib -lminizip -lz
PC

# The importer: OBJ only, no exporters, no tools, static. Debian's build asks
# for the system's draco library unconditionally; only the glTF reader, which
# is not built here, would use it, so an empty package stands in for it.
mkdir -p "$cache/build/draco"
echo 'set(DRACO_LIBRARIES "")' >"$cache/build/draco/draco-config.cmake"
emcmake cmake -S "$assimp_src" -B "$cache/build/assimp" -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_INSTALL_PREFIX="$prefix" -DBUILD_SHARED_LIBS=OFF \
  -DASSIMP_BUILD_ALL_IMPORTERS_BY_DEFAULT=OFF -DASSIMP_BUILD_OBJ_IMPORTER=ON \
  -DASSIMP_NO_EXPORT=ON -DASSIMP_BUILD_ALL_EXPORTERS_BY_DEFAULT=OFF \
  -DASSIMP_BUILD_TESTS=OFF -DASSIMP_BUILD_ASSIMP_TOOLS=OFF -DASSIMP_BUILD_SAMPLES=OFF \
  -DASSIMP_BUILD_ZLIB=OFF -DASSIMP_WARNINGS_AS_ERRORS=OFF -DASSIMP_INSTALL_PDB=OFF \
  -DASSIMP_BUILD_DRACO=OFF -DASSIMP_BUILD_M3D_IMPORTER=OFF \
  -DZLIB_INCLUDE_DIR="$prefix/include" -DZLIB_LIBRARY="$prefix/lib/libz.a" \
  -DCMAKE_CXX_FLAGS="-fexceptions -I/usr/include/utf8cpp -I/usr/include/stb" \
  -DCMAKE_FIND_ROOT_PATH="$prefix" -DPKG_CONFIG_USE_CMAKE_PREFIX_PATH=ON \
  -Ddraco_DIR="$cache/build/draco" -DCMAKE_PREFIX_PATH="$prefix" >/dev/null
cmake --build "$cache/build/assimp" -j"$jobs" --target assimp >/dev/null
cp -r "$assimp_src/include/assimp" "$prefix/include/"
cp "$cache/build/assimp/include/assimp/config.h" "$prefix/include/assimp/"
cp "$cache/build/assimp/lib/libassimp.a" "$prefix/lib/libassimp.a"
echo "$recipe" >"$prefix/recipe"
echo "$prefix"

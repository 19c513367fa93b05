#!/usr/bin/env bash
# Builds the film for web browsers into build-web/ and serves its site folder
# (build-web/site/, exactly what a static host needs) on 127.0.0.1, printing
# the address to open.
#   scripts/web.sh            build, then serve (Ctrl-C stops the server)
#   scripts/web.sh --build    build only
# Needs Debian's emscripten; the model importer is built once from Debian's
# source into a cache (scripts/web/deps.sh); the asset files and the page's
# poster (a still drawn by demo-capture) come from the native build (build/,
# or $BUILD_DIR), whose asset generator and demo-capture are built first.
# PORT picks the server's port (default 8080).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
native=${BUILD_DIR:-$root/build}
web=${WEB_BUILD_DIR:-$root/build-web}
jobs=${JOBS:-2}
# The poster: the film at this moment, at this size.
poster_moment=${POSTER_AT:-40}
poster_size=640x360
# Emscripten's optimiser needs Debian's acorn module, which a node from
# elsewhere does not look for.
export NODE_PATH=${NODE_PATH:+$NODE_PATH:}/usr/share/nodejs

command -v emcmake >/dev/null || {
  echo "web: cannot use emcmake: install Debian's emscripten (scripts/setup.sh --web)" >&2
  exit 1
}
if [[ ! -f $native/ring.obj || ! -x $native/demo-capture ]]; then
  cmake -S "$root" --preset native -B "$native" >/dev/null
  cmake --build "$native" -j"$jobs" --target film_assets demo-capture >/dev/null
fi
poster=$native/web-poster-$poster_moment-$poster_size.png
if [[ ! -f $poster || $native/demo-capture -nt $poster ]]; then
  stills=$(mktemp -d)
  trap 'rm -rf "$stills"' EXIT
  (cd "$native" && ./demo-capture --at "$poster_moment" \
    --size "$poster_size" --out "$stills" >/dev/null)
  mv "$stills"/still-*.png "$poster"
fi
deps=$("$root/scripts/web/deps.sh")
emcmake cmake -S "$root" --preset web -B "$web" \
  -DFILM_WEB_DEPS="$deps" -DFILM_ASSET_DIR="$native" -DFILM_POSTER="$poster" >/dev/null
cmake --build "$web" -j"$jobs" --target site

if [[ ${1:-} == --build ]]; then exit 0; fi
port=${PORT:-8080}
echo "web: serving $web/site at http://127.0.0.1:$port/ (Ctrl-C stops)"
exec python3 -m http.server "$port" --bind 127.0.0.1 --directory "$web/site"

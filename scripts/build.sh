#!/usr/bin/env bash
# Configures and builds everything into build/ (or $BUILD_DIR).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$root/build}
cmake -S "$root" --preset native -B "$build" ${BUILD_TYPE:+-DCMAKE_BUILD_TYPE=$BUILD_TYPE} >/dev/null
cmake --build "$build" -j"$(nproc)"

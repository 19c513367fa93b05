#!/usr/bin/env bash
# The film on a second OpenGL driver: Mesa's zink (OpenGL over Vulkan, here
# on the lavapipe software Vulkan driver), which compiles the shaders through
# SPIR-V and rasterises on its own path. Headless through EGL, no X server:
#   - the reference-frame test (tests/reference_test.cpp, 40 dB) under zink;
#   - stills at five moments at 640 x 360 under zink and under llvmpipe,
#     each pair at least $ZINK_MIN_PSNR dB apart by the tests' image-psnr
#     (scripts/lib/stills.sh; default 40, the reference test's bound: zink
#     draws the same picture, rounded differently).
# A shader or framebuffer use that only one of the drivers accepts fails it.
# Run it after a build (scripts/test.sh); BUILD_DIR picks the build.
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
source "$root/scripts/lib/stills.sh"
build=${BUILD_DIR:-$root/build}
minimum=${ZINK_MIN_PSNR:-40}
[[ -x $build/demo-capture && -x $build/tests/reference_test ]] || {
  echo "zink-check: build demo-capture and the tests first (scripts/test.sh)" >&2
  exit 1
}
[[ -n $(ls /usr/share/vulkan/icd.d/lvp_icd.*.json 2>/dev/null) ]] || {
  echo "zink-check: the lavapipe Vulkan driver is missing: install mesa-vulkan-drivers" >&2
  exit 1
}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$build"
# The Vulkan loader wants a runtime folder; without one it complains on
# every start.
export XDG_RUNTIME_DIR=$work
zink=(env -u DISPLAY MESA_LOADER_DRIVER_OVERRIDE=zink LIBGL_ALWAYS_SOFTWARE=1)

# Mesa falls back to another driver when zink cannot start: make sure it ran.
renderer=$("${zink[@]}" ./demo-capture --benchmark --size 64x36 2>&1 | sed -n 's/^OpenGL: //p')
if [[ $renderer != *zink* ]]; then
  echo "zink-check: zink did not start (renderer: ${renderer:-none})" >&2
  exit 1
fi
echo "zink-check: $renderer"

"${zink[@]}" ctest --output-on-failure -R '^reference_test$'

moments=3,13,30,52,70
"${zink[@]}" ./demo-capture --size 640x360 --at "$moments" --out "$work/zink" 2>"$work/zink.log" || {
  cat "$work/zink.log" >&2
  exit 1
}
env -u DISPLAY ./demo-capture --gl egl --size 640x360 --at "$moments" --out "$work/llvmpipe" \
  2>"$work/llvmpipe.log" || {
  cat "$work/llvmpipe.log" >&2
  exit 1
}
stills_agree zink-check "$build" "$work/llvmpipe" "$work/zink" "$minimum" "zink against llvmpipe"

#!/usr/bin/env bash
# The film's figures on this machine's GPU, with no display: builds
# demo-capture if needed, then renders through EGL (a GPU's EGL device, else
# Mesa's surfaceless EGL; never an X server) and prints one table:
#   - the renderer (vendor, renderer, version, and the EGL display used);
#   - the start-up time (toolkit, assets, programs, terrain, targets);
#   - the GPU time of each step of the frame and of the whole frame (GL timer
#     queries), and the wall time of the frame, at 1920 x 1080 and
#     1280 x 720 at the benchmark's seven moments;
#   - the capture rate of a 1080p60 video of the film's first seconds, with
#     and without the read-back overlapped with the next frame.
# Usage: scripts/bench.sh gpu [--seconds N]
#   --seconds N   length of the video captured (default 20; a software
#                 renderer takes a second or more per 1080p frame: use 0.5)
# Needs cmake, a C++17 compiler, the -dev packages of scripts/setup.sh and
# ffmpeg; it says which is missing. The build goes to build/ ($BUILD_DIR).
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
build=${BUILD_DIR:-$root/build}
seconds=20
while (($#)); do
  case "$1" in
    --seconds)
      [[ $# -ge 2 && $2 =~ ^[0-9]+([.][0-9]+)?$ ]] || {
        echo "gpu-benchmark: --seconds needs a number of seconds" >&2
        exit 2
      }
      seconds=$2
      shift 2
      ;;
    *)
      echo "gpu-benchmark: unknown option '$1' (usage: scripts/bench.sh gpu [--seconds N])" >&2
      exit 2
      ;;
  esac
done

fail() {
  echo "gpu-benchmark: $*" >&2
  exit 1
}

# What the build and the runs need, named before anything starts.
for tool in cmake c++ ffmpeg; do
  command -v "$tool" >/dev/null || fail "$tool is missing (scripts/setup.sh installs it)"
done
for header in GL/glew.h GLFW/glfw3.h EGL/egl.h assimp/scene.h CLI/CLI.hpp stb/stb_image.h; do
  [[ -f /usr/include/$header ]] || fail "/usr/include/$header is missing (scripts/setup.sh installs the -dev packages)"
done

# A bare checkout is configured first (without the tests: no GoogleTest
# needed); an existing build is brought up to date.
if [[ ! -f $build/CMakeCache.txt ]]; then
  echo "gpu-benchmark: configuring a build in $build" >&2
  cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF >/dev/null ||
    fail "cmake could not configure the build (its message is above)"
fi
echo "gpu-benchmark: building demo-capture in $build" >&2
cmake --build "$build" -j"$(nproc)" --target demo-capture >/dev/null ||
  fail "the build failed (its message is above)"

cd "$build"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
capture=(env -u DISPLAY ./demo-capture --gl egl)

# One benchmark per size; its report is kept whole in $work.
for size in 1920x1080 1280x720; do
  "${capture[@]}" --benchmark --size "$size" >"$work/bench-$size.txt" 2>"$work/bench-$size.err" ||
    fail "demo-capture --benchmark --size $size failed: $(tail -n 1 "$work/bench-$size.err")"
done

# The video: the film's first seconds at 1080p60, each way of reading back.
for way in overlap no-overlap; do
  flag=()
  [[ $way == no-overlap ]] && flag=(--no-overlap)
  "${capture[@]}" --video "$work/film-$way.mp4" --size 1920x1080 --fps 60 --until "$seconds" \
    "${flag[@]}" 2>"$work/video-$way.err" ||
    fail "demo-capture --video failed: $(tail -n 1 "$work/video-$way.err")"
done

renderer=$(sed -n 's/^OpenGL: //p' "$work/bench-1920x1080.txt")
# From a benchmark report: the start-up total, and the means over the seven
# moments of the steps' GPU sum and of the frame's wall time.
startup_of() { awk '/^Start-up/ { on = 1 } on && $1 == "total" { print $2; exit }' "$1"; }
frame_means() {
  awk '/^Frame steps/ { on = 1; next } on && /^$/ { exit }
       on && $2 == "s" { gpu += $(NF - 1); wall += $NF; n++ }
       END { if (n) printf "%.1f %.1f", gpu / n, wall / n }' "$1"
}
read -r gpu1080 wall1080 <<<"$(frame_means "$work/bench-1920x1080.txt")"
read -r gpu720 wall720 <<<"$(frame_means "$work/bench-1280x720.txt")"
rate_of() { sed -n 's/.* frames of .* in .*: \([0-9.]*\) frames per second.*/\1/p' "$1"; }

echo "GPU benchmark of the film (demo-capture through EGL, no X server)"
echo "Renderer: $renderer"
echo
printf '%-52s %12s %12s\n' "" 1920x1080 1280x720
printf '%-52s %12s %12s\n' "start-up, ms" "$(startup_of "$work/bench-1920x1080.txt")" \
  "$(startup_of "$work/bench-1280x720.txt")"
printf '%-52s %12s %12s\n' "frame, GPU time of the steps, ms (mean of 7 moments)" "$gpu1080" "$gpu720"
printf '%-52s %12s %12s\n' "frame, wall time with glFinish, ms (mean)" "$wall1080" "$wall720"
printf '%-52s %12s\n' "capture 1080p60, first $seconds s, overlapped, frames/s" \
  "$(rate_of "$work/video-overlap.err")"
printf '%-52s %12s\n' "capture 1080p60, first $seconds s, not overlapped, frames/s" \
  "$(rate_of "$work/video-no-overlap.err")"
for size in 1920x1080 1280x720; do
  echo
  echo "== $size: each step of the frame at the seven moments"
  # The frame table: GPU time of each step, their sum, the frame's wall time.
  awk '/^Frame steps/ { on = 1 } on && /^$/ { exit } on' "$work/bench-$size.txt"
done

#!/usr/bin/env bash
# The players' frame time on X11 against Wayland, on this machine: plays
# demo720 to its end once on a private Xvfb screen (the installed GLFW, X11),
# once on weston's headless compositor (GLFW 3.3's Wayland build; see
# scripts/lib/weston.sh) and once on weston's X11 back-end inside Xvfb
# (Debian 13's GLFW 3.4, which takes Wayland there; left out with
# WAYLAND_CHECK_GLFW34=0), each at 1280 x 720, with the frame log preloaded
# (frame_log.c, scripts/lib/frame-log.sh), and prints for each the film
# frames presented, the seconds they took and the milliseconds a frame. The
# players print nothing themselves.
# Usage: scripts/bench.sh frame-time   (build/ or $BUILD_DIR)
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
build=${BUILD_DIR:-$root/build}
source "$root/scripts/lib/xvfb.sh"
source "$root/scripts/lib/weston.sh"
source "$root/scripts/lib/frame-log.sh"
work=$(mktemp -d)
trap 'xvfb_stop; weston_stop; rm -rf "$work"' EXIT
frame_log_build "$work"
glfw=$(wayland_glfw "$build")
cd "$build"

# Plays the film to its end with the frame log: NAME, then the command that
# sets its environment.
play() {
  local name=$1
  shift
  if ! timeout 600 "$@" LD_PRELOAD="$work/frame_log.so" FRAME_LOG="$work/frames.log" \
    ./demo720 2>"$work/err.log"; then
    echo "frame-time: cannot play demo720 on $name: $(cat "$work/err.log")" >&2
    exit 1
  fi
  local frames seconds milliseconds
  read -r frames seconds milliseconds < <(frame_time "$work/frames.log")
  printf '%-34s %5d film frames in %6.1f s: %7.1f ms a frame\n' "$name" "$frames" "$seconds" \
    "$milliseconds"
}

xvfb_start 1280x720
play "X11 (Xvfb, GLFW $(dpkg-query -W -f '${Version}' libglfw3 | cut -d- -f1))" env
xvfb_stop
unset DISPLAY
weston_start 1280x720
play "Wayland (weston, GLFW 3.3)" "${weston_env[@]}" LD_LIBRARY_PATH="$glfw"
weston_stop
if [[ ${WAYLAND_CHECK_GLFW34:-1} != 0 ]]; then
  glfw=$(trixie_glfw "$build")
  xvfb_start 1280x720
  weston_start 1280x720 x11
  play "Wayland (weston on X11, GLFW 3.4)" "${weston_env[@]}" LD_LIBRARY_PATH="$glfw" \
    LIBDECOR_PLUGIN_DIR="$glfw/libdecor/plugins-1"
  weston_stop
  xvfb_stop
fi

#!/usr/bin/env bash
# Plays demo720 to its end on Wayland twice: Debian 12's Wayland build of
# GLFW 3.3 under weston's headless compositor with its GL renderer, with no X
# display; then Debian 13's GLFW 3.4 (both back-ends) under weston's X11
# back-end inside a private Xvfb, with both $DISPLAY and $WAYLAND_DISPLAY set
# as on a desktop (3.4 must take Wayland: only then is its window on weston's
# output). WAYLAND_CHECK_GLFW34=0 leaves 3.4 out, for a machine that cannot
# reach Debian 13's packages. Each GLFW is unpacked into the build folder and
# put before the installed one with LD_LIBRARY_PATH, never installed
# (scripts/lib/weston.sh). Each play must show the loading bar and the film on
# weston's output, end with status 0 and write nothing on stderr. The player
# runs on the frame log's clock (scripts/bench/frame_log.c): the bar is held
# half grown until a screenshot of the output has shown it; then, for the
# film's first 30 s, one second a frame, so that each frame it presents is a
# known moment, drawn after the script moved as the capture tool's does at 1
# frame a second; a screenshot taken then is compared (image-psnr) with the
# capture tool's still of that moment, and must reach 40 dB, as the reference
# frames must. The clock then runs at its real pace to the film's end.
# Screenshots and stills stay in BUILD/wayland-check/. Prints the frames'
# cost and what the check took.
# Usage: scripts/checks/wayland-check.sh   (build/ or $BUILD_DIR)
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
build=${BUILD_DIR:-$root/build}
started=$SECONDS
source "$root/scripts/lib/weston.sh"
source "$root/scripts/lib/xvfb.sh"
source "$root/scripts/lib/frame-log.sh"
fail() {
  echo "wayland-check: $1" >&2
  exit 1
}
for program in demo720 demo-capture tests/image-psnr; do
  [[ -x $build/$program ]] || fail "cannot run: $build/$program is missing (build it first)"
done
work=$(mktemp -d)
film=
trap '[[ -z $film ]] || kill "$film" 2>/dev/null || true; weston_stop; xvfb_stop; rm -rf "$work"' EXIT
frame_log_build "$work"
kept=$build/wayland-check
rm -rf "$kept"
mkdir -p "$kept"
cd "$build"

# The mean brightness of the screenshot through a filter.
mean_of() {
  ffmpeg -loglevel error -i "$work/shot.png" -vf "$1" -pix_fmt gray -f rawvideo - 2>/dev/null |
    od -An -v -tu1 -w1 | awk '{ s += $1; n++ } END { print n ? int(s / n) : 0 }'
}

# Plays the film on the running weston: NAME (for the files kept), what it
# runs on (for the lines printed), the GLFW's folder, then more of the
# player's environment (VAR=VALUE).
play_on_wayland() {
  local name=$1 what=$2 glfw=$3
  local shot_from='' shot_to='' before after screen status=0 _
  rm -f "$work/frames.log" "$work/shot.png" "$work"/stills/*
  touch "$work/hold"
  "${weston_env[@]}" LD_LIBRARY_PATH="$glfw" "${@:4}" LD_PRELOAD="$work/frame_log.so" \
    FRAME_LOG="$work/frames.log" FRAME_STEP=1 FRAME_STEPS=36 FRAME_HOLD="$work/hold" ./demo720 \
    >"$work/out.log" 2>"$work/err.log" &
  film=$!
  # The loading bar, held half grown by the clock until it has been seen: its
  # first frame after the hold began (a swap after the third reading of the
  # clock) is on weston's output then. The screen must be black but for the
  # bar, whose left half is lit and right half dark.
  for _ in $(seq 1200); do
    kill -0 "$film" 2>/dev/null || break
    [[ $(awk '$1 == "g" { g++ } $1 == "s" && g >= 3 { print "yes"; exit }' "$work/frames.log" 2>/dev/null) == yes ]] &&
      break
    sleep 0.1
  done
  kill -0 "$film" 2>/dev/null || fail "$what: demo720 ended before its loading bar showed: $(cat "$work/err.log")"
  weston_shoot "$work/shot.png" || fail "$what: weston's screenshooter failed"
  cp "$work/shot.png" "$kept/$name-bar.png"
  local lit dark
  screen=$(mean_of scale=32:18:flags=area) lit=$(mean_of crop=252:4:386:358) dark=$(mean_of crop=252:4:642:358)
  ((screen < 8 && lit > 160 && dark < 16)) || fail "$what: weston's output does not show the loading bar half\
 grown (screen $screen, the bar's halves $lit and $dark of 255; $kept/$name-bar.png)"
  rm "$work/hold"
  # Then the film's picture once it has faded in (the mean brightness of the
  # screen, scaled down, at least 24 of 255) after a film frame was presented.
  for _ in $(seq 300); do
    kill -0 "$film" 2>/dev/null || break
    before=$(date +%s.%N)
    if [[ -n $(film_frames "$work/frames.log") ]] && weston_shoot "$work/shot.png"; then
      after=$(date +%s.%N)
      screen=$(mean_of scale=32:18:flags=area)
      if ((screen >= 24)); then
        shot_from=$before shot_to=$after
        break
      fi
    fi
    sleep 1
  done
  if [[ -z $shot_from ]]; then
    kill -0 "$film" 2>/dev/null && kill "$film"
    wait "$film" || status=$?
    film=
    fail "$what: the film never showed on weston's output (demo720 ended with status $status):\
 $(cat "$work/err.log")"
  fi
  # The rest of the film and the unloading bar: bounded, to catch a hang.
  for _ in $(seq 6000); do
    kill -0 "$film" 2>/dev/null || break
    sleep 0.1
  done
  kill -0 "$film" 2>/dev/null && fail "$what: demo720 still plays 600 s after the film showed"
  wait "$film" || status=$?
  film=
  ((status == 0)) || fail "$what: demo720 exited with status $status: $(cat "$work/err.log")"
  [[ ! -s $work/err.log ]] || fail "$what: demo720 wrote to stderr: $(head -n 3 "$work/err.log")"

  # The frame on screen: the last swapped before the screenshot began, or one
  # swapped while it was taken. Each is compared with its still.
  local moments
  moments=$(film_frames "$work/frames.log" | awk -v from="$shot_from" -v to="$shot_to" '
    $1 <= from { last = $2 } $1 > from && $1 <= to { during = during "," $2 }
    END { if (last != "") printf "%s%s", last, during }')
  [[ -n $moments ]] || fail "$what: the frame log shows no film frame before the screenshot"
  awk -v m="$moments" 'BEGIN { exit !(m + 0 <= 30) }' ||
    fail "$what: the screenshot came after the stepped clock's 30 s (the film at $moments s)"
  mkdir -p "$work/stills"
  ./demo-capture --gl egl --size 1280x720 --fps 1 --at "$moments" --out "$work/stills" >/dev/null \
    2>"$work/capture.log" || fail "the capture tool failed: $(cat "$work/capture.log")"
  local best=0 decibels still
  cp "$work/shot.png" "$kept/$name-presented.png"
  for still in "$work"/stills/*.png; do
    decibels=$(./tests/image-psnr "$still" "$work/shot.png")
    [[ $decibels != inf ]] || decibels=999
    if awk -v d="$decibels" -v b="$best" 'BEGIN { exit !(d > b) }'; then
      best=$decibels
      cp "$still" "$kept/$name-still.png"
    fi
  done
  echo "wayland-check: $what: the frame on weston's output (the film at $moments s) against its still: $best dB"
  awk -v b="$best" 'BEGIN { exit !(b >= 40) }' ||
    fail "$what: the frame weston presented is not the film's ($best dB against its still; both in $kept)"
  local frames seconds milliseconds
  read -r frames seconds milliseconds < <(frame_time "$work/frames.log")
  echo "wayland-check: $what: $frames film frames presented in $seconds s ($milliseconds ms a frame)"
  echo "wayland-check: $what: demo720 played to its end, status 0, no error output"
}

glfw=$(wayland_glfw "$build")
weston_start 1280x720
play_on_wayland glfw-3.3 "GLFW 3.3, weston headless" "$glfw"
weston_stop
echo "wayland-check: GLFW 3.3 took $((SECONDS - started)) s"

if [[ ${WAYLAND_CHECK_GLFW34:-1} == 0 ]]; then
  echo "wayland-check: GLFW 3.4 left out (WAYLAND_CHECK_GLFW34=0)"
else
  glfw=$(trixie_glfw "$build") || fail "cannot fetch Debian 13's GLFW 3.4 (WAYLAND_CHECK_GLFW34=0 leaves it out)"
  xvfb_start 1280x720
  weston_start 1280x720 x11
  play_on_wayland glfw-3.4 "GLFW 3.4, weston on X11" "$glfw" \
    LIBDECOR_PLUGIN_DIR="$glfw/libdecor/plugins-1"
  weston_stop
  xvfb_stop
fi
echo "wayland-check: took $((SECONDS - started)) s"

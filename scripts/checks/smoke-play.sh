#!/usr/bin/env bash
# Plays demo720 end to end on a private Xvfb screen: checks that the loading
# bar shows, ends the film with one short tap of Escape, and expects exit
# status 0.
# Usage: scripts/checks/smoke-play.sh [FOLDER COMMAND...]
#   (default: ./demo720 in build/ or $BUILD_DIR; scripts/windows/check.sh
#   gives the unpacked Windows package and `wine demo720.exe`)
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
build=${BUILD_DIR:-$root/build}
if (($# >= 2)); then
  build=$1
  shift
  film_command=("$@")
else
  film_command=(./demo720)
fi
source "$root/scripts/lib/xvfb.sh"
work=$(mktemp -d)
trap 'xvfb_stop; rm -rf "$work"' EXIT
xvfb_start 1280x720
display=$DISPLAY

cd "$build"
DISPLAY=$display "${film_command[@]}" >"$work/out.log" 2>&1 &
film=$!

# Count white pixels in the 512 x 4 bar (the grab leaves the pointer out): a
# bar that has started and not yet finished growing shows between 1 and 2047
# of them. Look for up to 20 s: under Wine the window comes up later.
bar_seen=no
for _ in $(seq 200); do
  ((SECONDS < 20)) || break
  sleep 0.1
  if ffmpeg -loglevel error -f x11grab -draw_mouse 0 -video_size 1280x720 -i "$display" -frames:v 1 \
    -vf crop=512:4:384:358 -pix_fmt gray -f rawvideo "$work/bar.raw" -y 2>/dev/null; then
    white=$(od -An -v -tu1 -w1 "$work/bar.raw" | awk '$1 > 200 { n++ } END { print n + 0 }')
    if ((white > 0 && white < 2048)); then
      bar_seen=yes
      echo "smoke: loading bar seen ($white of 2048 pixels lit)"
      break
    fi
  fi
done

# Wait until the film's picture shows (the mean brightness of the screen,
# scaled down, at least 8 of 255: neither black nor the bar), then tap Escape
# once, for 50 ms as a person does: the film must end after the frame in
# progress, however slow the frames are. The limit only catches a hang.
film_seen=no
if DISPLAY=$display wait_for_film "$film"; then
  film_seen=yes
  echo "smoke: the film shows"
fi
if [[ $film_seen != yes ]]; then
  echo "smoke: the film never showed" >&2
  kill "$film" 2>/dev/null || true
  wait "$film" || true
  cat "$work/out.log"
  exit 1
fi
DISPLAY=$display tap_escape
if ! wait_gone "$film" 30; then
  echo "smoke: demo720 still plays 30 s after one tap of Escape" >&2
  kill "$film"
  wait "$film" || true
  cat "$work/out.log"
  exit 1
fi
status=0
wait "$film" || status=$?
cat "$work/out.log"
echo "smoke: ${film_command[*]} exited with status $status"
if [[ $bar_seen != yes ]]; then
  echo "smoke: the loading bar was never seen" >&2
  exit 1
fi
exit "$status"

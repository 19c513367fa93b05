#!/usr/bin/env bash
# Aims demo-capture at what only root can set up, and checks that it refuses
# or fails cleanly: the system's device nodes as the video (/dev/null,
# /dev/stdout), and a file system that fills up while a video, PNG frames or
# stills are written (a 256 KiB tmpfs). Each run must end with a non-zero
# status and one line on stderr naming the file, leave the device nodes as
# they were and leave nothing on the full file system. Needs root; without a
# display demo-capture renders through EGL. CAPTURE picks another binary.
set -uo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
build=${BUILD_DIR:-$root/build}
capture=${CAPTURE:-$build/demo-capture}
work=$(mktemp -d)
full=$work/full
trap 'umount "$full" 2>/dev/null; rm -rf "$work"' EXIT
mkdir "$full"
mount -t tmpfs -o size=256k tmpfs "$full" || { echo "needs root to mount a tmpfs"; exit 1; }
cd "$build"

failed=0
# Runs the capture; expects a non-zero status and one line on stderr that
# contains $2.
expect_failure() {
  local what=$1 needle=$2
  shift 2
  local status=0
  "$capture" "$@" >"$work/out" 2>"$work/err" || status=$?
  # The progress line ends in carriage returns, not newlines: count the
  # lines after the last of them.
  local message
  message=$(tr '\r' '\n' <"$work/err" | grep -v '^$' | grep -v 'frames/s\|stills, frame')
  echo "$what: status $status: $message"
  if ((status == 0)) || [[ $(printf '%s\n' "$message" | wc -l) != 1 ]] ||
    [[ $message != *"$needle"* ]]; then
    echo "  FAILED: wanted a non-zero status and one line naming $needle"
    failed=1
  fi
}
expect_empty() {
  local left
  left=$(ls -A "$full")
  if [[ -n $left ]]; then
    echo "  FAILED: left on the full file system: $left"
    failed=1
    rm -rf "${full:?}"/* "$full"/.[!.]* 2>/dev/null
  fi
}

for device in /dev/null /dev/stdout; do
  before=$(stat -L -c '%F %t:%T' "$device")
  expect_failure "--video $device" "cannot use $device" --video "$device" --size 64x36 --fps 1
  after=$(stat -L -c '%F %t:%T' "$device")
  if [[ $before != "$after" ]]; then
    echo "  FAILED: $device was $before, is now $after"
    failed=1
  fi
done

expect_failure "--video on a full disk" "$full/film.mp4" --video "$full/film.mp4" --size 320x180 \
  --fps 2
expect_empty
expect_failure "--video into a new folder on a full disk" "$full/new/film.mp4" \
  --video "$full/new/film.mp4" --size 320x180 --fps 2
expect_empty
expect_failure "--png on a full disk" "$full/frames/frame-" --png "$full/frames" --size 320x180 \
  --fps 1
expect_empty
expect_failure "stills on a full disk" "$full/stills/still-" --out "$full/stills" --size 320x180 \
  --at 13,30,58,70,80,90,100
expect_empty

if ((failed)); then
  echo "capture-faults: FAILED"
  exit 1
fi
echo "capture-faults: passed"

#!/usr/bin/env bash
# Aims demo-capture at what a unit test cannot set up, and checks that it
# refuses or fails cleanly:
#   - the system's device nodes as the video (/dev/null, /dev/stdout), and a
#     file system that fills up while a video, PNG frames or stills are
#     written (a 256 KiB tmpfs: needs root). Each run must end with a
#     non-zero status and one line on stderr naming the file, leave the
#     device nodes as they were and leave nothing on the full file system;
#   - a 2.5 GB address-space limit with what would need more: a 10 MB
#     run-length TGA that declares 16384 x 16384 pixels in place of
#     spaceship.tga, and render targets of 8192 x 8192. Each must end with
#     status 1 and one line on stderr naming the reason, never a crash or an
#     abort.
# Without a display demo-capture renders through EGL. CAPTURE picks another
# binary.
set -uo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
build=${BUILD_DIR:-$root/build}
capture=${CAPTURE:-$build/demo-capture}
work=$(mktemp -d)
full=$work/full
trap 'umount "$full" 2>/dev/null || true; rm -rf "$work"' EXIT
mkdir "$full"
mount -t tmpfs -o size=256k tmpfs "$full" || { echo "needs root to mount a tmpfs"; exit 1; }
cd "$build"

failed=0
# Runs the capture ($limited: in the asset folder $assets under the
# address-space limit); expects a non-zero status ($limited: status 1) and
# one line on stderr that contains $2.
limited=
expect_failure() {
  local what=$1 needle=$2
  shift 2
  local status=0
  if [[ -n $limited ]]; then
    (cd "$assets" && ulimit -v 2500000 && exec "$capture" "$@" --out "$work/stills") \
      >"$work/out" 2>"$work/err" || status=$?
  else
    "$capture" "$@" >"$work/out" 2>"$work/err" || status=$?
  fi
  # The progress line ends in carriage returns, not newlines: count the
  # lines after the last of them.
  local message
  message=$(tr '\r' '\n' <"$work/err" | grep -v '^$' | grep -v 'frames/s\|stills, frame')
  echo "$what: status $status: $message"
  if ((status == 0)) || [[ -n $limited && $status != 1 ]] ||
    [[ $(printf '%s\n' "$message" | wc -l) != 1 ]] ||
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

# Under the address-space limit, in a folder of links to the assets.
limited=1
assets=$work/assets
mkdir "$assets"
for name in normal-map.tga spaceship.obj spaceship.tga spaceship-normal-map.tga orvane.obj \
  kelthar.obj ring.obj greetings.obj; do
  ln -s "$build/$name" "$assets/$name"
done
rm "$assets/spaceship.tga"
python3 - "$assets/spaceship.tga" <<'PY'
import struct, sys
side = 16384
header = struct.pack("<BBBHHBHHHHBB", 0, 0, 10, 0, 0, 0, 0, 0, side, side, 32, 0)
packet = bytes([0xFF, 0x40, 0x40, 0x40, 0xFF])  # 128 copies of one pixel
with open(sys.argv[1], "wb") as f:
    f.write(header + packet * (side * side // 128))
PY
expect_failure "16384 x 16384 RLE image" "spaceship.tga" --at 1 --size 64x36
rm "$assets/spaceship.tga"
ln -s "$build/spaceship.tga" "$assets/spaceship.tga"
expect_failure "8192 x 8192 render targets" "demo-capture: " --at 1 --size 8192x8192

if ((failed)); then
  echo "capture-faults: FAILED"
  exit 1
fi
echo "capture-faults: passed"

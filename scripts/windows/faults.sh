#!/usr/bin/env bash
# Aims the Windows demo-capture.exe, under Wine, at what goes wrong only on
# Windows or only where a test cannot reach (a unit test cannot mount a file
# system or run a Windows program):
#   - output names that are not ASCII (é, Ω, 漢字, an absolute Z:\...\Démo Ω\...
#     path) must reach the disk as given;
#   - a full 64 KiB file system (a tmpfs: needs root) must fail a small still
#     and a video with one line naming the file and "No space left on device"
#     or the encoder's error, a non-zero status, and nothing left behind, not
#     even a non-ASCII folder the run made;
#   - --video must leave the video and nothing else (no placeholder); an
#     encoder that ends early with status 0, or fails with a reason, must fail
#     as on Linux ("... failed (exit status 0); ... not written"). Wine can
#     start the system's ffmpeg, but gives it neither the pipe for its errors
#     nor its exit status: tests/fake_encoder.exe stands in for it.
# Usage: scripts/windows/faults.sh FOLDER ENCODER   (the unpacked Windows
#   package and the cross build's tests/fake_encoder.exe; run by
#   scripts/windows/check.sh, which sets up Wine and its display)
set -uo pipefail
# Names beyond ASCII need a UTF-8 locale for Wine to make them on disk.
export LC_ALL=C.UTF-8
folder=$(cd "$1" && pwd)
encoder=$(winepath -w "$2")
work=$(mktemp -d)
full=$work/full
trap 'umount "$full" 2>/dev/null; rm -rf "$work"' EXIT
failed=0

capture() {
  (cd "$folder" && timeout 300 wine ./demo-capture.exe "$@") >"$work/out" 2>"$work/err"
}
# The lines the capture said on stderr, without its progress line.
said() {
  tr '\r' '\n' <"$work/err" | grep -v '^$' | grep -v 'frames/s\|stills, frame\|frames of'
}
bad() {
  echo "  FAILED: $*"
  failed=1
}
# Expects a non-zero status and exactly one line containing each of the
# needles.
expect_failure() {
  local what=$1 status=$2 message
  shift 2
  message=$(said)
  echo "$what: status $status: $message"
  ((status != 0)) || bad "wanted a non-zero status"
  [[ $(printf '%s\n' "$message" | wc -l) == 1 ]] || bad "wanted one line"
  for needle in "$@"; do [[ $message == *"$needle"* ]] || bad "wanted a line with '$needle'"; done
}
windows_path() {
  winepath -w "$1" 2>/dev/null
}

# Names that are not ASCII, relative and absolute.
mkdir -p "$work/Démo Ω"
for name in é Ω 漢字 "$(windows_path "$work/Démo Ω")\\stills Ω"; do
  status=0
  capture --at 3 --size 64x36 --out "$name" || status=$?
  expected=$name
  [[ $name == *:\\* ]] && expected="$work/Démo Ω/stills Ω"
  [[ $name != *:\\* ]] && expected="$folder/$name"
  echo "--out $name: status $status: $(said | tail -n 1)"
  if ((status != 0)) || [[ ! -s $expected/still-003.000.png ]]; then
    bad "no still in $expected"
    ls -A "$folder" "$work/Démo Ω" | sed 's/^/    /'
  fi
  rm -rf "${expected:?}"
done

# A full 64 KiB file system.
mkdir "$full"
if mount -t tmpfs -o size=64k tmpfs "$full" 2>/dev/null; then
  full_windows=$(windows_path "$full")
  expect_empty() {
    local left
    left=$(ls -A "$full" | grep -v '^filler$')
    [[ -z $left ]] || bad "left on the full file system: $left"
  }
  head -c 1M /dev/zero >"$full/filler" 2>/dev/null
  status=0
  capture --at 3 --size 64x36 --out "$full_windows\\stills" || status=$?
  expect_failure "a small still on a full disk" "$status" "stills" "No space left on device"
  expect_empty
  status=0
  capture --at 3 --size 64x36 --out "$full_windows\\Démo Ω" || status=$?
  expect_failure "a small still into a new non-ASCII folder on a full disk" "$status" \
    "Démo Ω" "No space left on device"
  expect_empty
  # Room for the placeholder and a little of the video, not its end.
  rm -f "$full/filler"
  head -c 40k /dev/zero >"$full/filler"
  status=0
  capture --video "$full_windows\\film.mp4" --size 160x90 --fps 1 --ffmpeg "$encoder" ||
    status=$?
  expect_failure "--video on a full disk" "$status" "film.mp4 not written" \
    "No space left on device"
  expect_empty
  umount "$full"
else
  echo "windows-faults: note: cannot mount a tmpfs (not root): the full-disk cases are left out"
fi

# The video: the file and nothing else, also in place of an earlier one.
mkdir -p "$work/video"
for attempt in first again; do
  status=0
  capture --video "$(windows_path "$work/video")\\film Ω.mp4" --size 64x36 --fps 1 \
    --ffmpeg "$encoder" || status=$?
  echo "--video ($attempt): status $status: $(said | tail -n 1)"
  ((status == 0)) || bad "wanted status 0"
  [[ -s "$work/video/film Ω.mp4" ]] || bad "no video written"
  [[ $(ls -A "$work/video") == "film Ω.mp4" ]] || bad "left besides the video: $(ls -A "$work/video")"
done
rm -rf "$work/video"

# An encoder that reads a little and ends with status 0, and one that fails
# with a reason.
mkdir -p "$work/video"
status=0
FAKE_ENCODER=quit capture --video "$(windows_path "$work/video")\\film.mp4" --size 64x36 \
  --fps 1 --ffmpeg "$encoder" || status=$?
expect_failure "--video, an encoder that ends early with status 0" "$status" \
  "failed (exit status 0)" "film.mp4 not written"
status=0
FAKE_ENCODER=fail capture --video "$(windows_path "$work/video")\\film.mp4" --size 64x36 \
  --fps 1 --ffmpeg "$encoder" || status=$?
expect_failure "--video, an encoder that fails" "$status" \
  "failed (exit status 1: Unknown encoder 'libx264')" "film.mp4 not written"
[[ -z $(ls -A "$work/video") ]] || bad "left after the failed videos: $(ls -A "$work/video")"

if ((failed)); then
  echo "windows-faults: FAILED"
  exit 1
fi
echo "windows-faults: passed"

#!/usr/bin/env bash
# Proves that the Windows build plays, under Wine on a private Xvfb screen
# (Mesa's software OpenGL):
#   - the cross-built tests pass: the toolkit's, the film's parts' and the
#     viewer's key-driven one (which runs demo-view and demo-capture);
#   - every program in the package carries its icon (16 to 256 pixels), its
#     version information and its manifest (DPI awareness, UTF-8 code page,
#     supported versions of Windows);
#   - demo720.exe, from the unpacked Windows package in dist/, shows the
#     loading bar, ends on Escape and exits with status 0, in one run;
#   - demo-capture.exe's stills at 3, 30 and 70 s match the Linux build's
#     (peak signal-to-noise ratio of at least 40 dB).
#   - without an asset file demo720.exe names it in one line and exits with 1;
#   - demo-capture.exe aimed at what goes wrong only on Windows or only where
#     a test cannot reach (a unit test cannot mount a file system or run a
#     Windows program): output names beyond ASCII, a full disk, the video
#     and its encoder's failures (the last part of this file).
# Run scripts/package.sh first. The Wine prefix is kept outside the clone
# (scripts/lib/wine.sh); the first run makes it.
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
native=${BUILD_DIR:-$root/build}
windows=${WINDOWS_BUILD_DIR:-$root/build-windows}
dist=${DIST_DIR:-$root/dist}
source "$root/scripts/lib/wine.sh"
source "$root/scripts/lib/xvfb.sh"
source "$root/scripts/lib/stills.sh"
"$root/scripts/setup.sh" --windows

fail() {
  echo "windows-check: $*" >&2
  exit 1
}
work=$(mktemp -d)
full=$work/full
trap 'wineserver -k 2>/dev/null || true; xvfb_stop; umount "$full" 2>/dev/null || true; rm -rf "$work"' EXIT
folder=$(windows_package "$dist" "$work") || exit 1
xvfb_start 1280x720

# The Wine prefix: made in a folder of its own and renamed when complete.
if [[ ! -f $WINEPREFIX/system.reg ]]; then
  echo "windows-check: making the Wine prefix $WINEPREFIX"
  mkdir -p "$(dirname "$WINEPREFIX")"
  partial=$WINEPREFIX.partial.$$
  rm -rf "$partial"
  WINEPREFIX=$partial wineboot -i >"$work/wineboot.log" 2>&1 || {
    tail -n 5 "$work/wineboot.log" >&2
    rm -rf "$partial"
    fail "wineboot could not make a Wine prefix"
  }
  WINEPREFIX=$partial wineserver -w
  rm -rf "$WINEPREFIX"
  mv "$partial" "$WINEPREFIX"
fi
# No crash debugger: Wine's would hold a program that faults (and the check
# with it) instead of ending it. Without one, a fault ends the program at
# once with a status other than 0, which the checks below see.
wine reg add 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\AeDebug' /v Debugger /t REG_SZ /d '' /f \
  >"$work/aedebug.log" 2>&1 || {
  cat "$work/aedebug.log" >&2
  fail "cannot turn Wine's crash debugger off"
}

# The toolkit's tests, cross-built.
failed=0
for test in "$windows"/tests/*_test.exe; do
  name=$(basename "$test")
  if (cd "$windows" && timeout 600 wine "tests/$name" >"$work/$name.log" 2>&1); then
    echo "windows-check: $name passed ($(grep -c '^\[       OK \]' "$work/$name.log") tests)"
  else
    grep -E "Failure|FAILED|error" "$work/$name.log" | head -n 20 >&2 || true
    echo "windows-check: $name failed" >&2
    failed=1
  fi
done
((failed == 0)) || fail "cross-built tests failed under Wine"

# The package, unpacked, played end to end.
DISPLAY= "$root/scripts/checks/smoke-play.sh" "$folder" wine ./demo720.exe ||
  fail "demo720.exe did not play to a clean end"

# The resources of each program: the icon group with every size, the version
# information with the project's version, the manifest's settings.
version=$(basename "$folder" | sed 's/^skyward-\(.*\)-windows-x64$/\1/')
for program in demo1080 demo720 demo-capture demo-view; do
  exe=$folder/$program.exe
  [[ -f $exe ]] || fail "the package has no $program.exe"
  x86_64-w64-mingw32-objdump -h "$exe" | grep -q ' \.rsrc ' || fail "$program.exe has no resources"
  wrestool -x -t 14 "$exe" >"$work/$program.ico" 2>/dev/null
  sizes=$(icotool -l "$work/$program.ico" 2>/dev/null | sed -n 's/.*--width=\([0-9]*\).*/\1/p' | tr '\n' ' ')
  [[ $sizes == "16 24 32 48 64 128 256 " ]] || fail "$program.exe: icon sizes '$sizes'"
  wrestool -x --raw -t 24 "$exe" >"$work/$program.manifest" 2>/dev/null
  for setting in '>PerMonitorV2<' '>true/pm<' '>UTF-8</activeCodePage>' \
    '{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}' "name=\"skyward.$program\""; do
    grep -qF "$setting" "$work/$program.manifest" || fail "$program.exe: the manifest lacks $setting"
  done
  wrestool -x --raw -t 16 "$exe" | iconv -f UTF-16LE -t UTF-8 2>/dev/null | tr -c '[:print:]' '\n' >"$work/$program.version" || true
  for value in "ProductVersion" "$version" "$program.exe" "MIT licence"; do
    grep -qF "$value" "$work/$program.version" || fail "$program.exe: the version information lacks $value"
  done
done
echo "windows-check: icon ($sizes), manifest and version $version in every program"

# A start-up check: without an asset file the player says which, in one line
# (on standard error when it leads somewhere, as here), and exits with 1.
mv "$folder/ring.obj" "$work/ring.obj"
status=0
(cd "$folder" && timeout 120 wine ./demo720.exe) >"$work/missing.log" 2>&1 || status=$?
mv "$work/ring.obj" "$folder/ring.obj"
if ((status != 1)) || [[ $(wc -l <"$work/missing.log") -ne 1 ]] || ! grep -q "^demo720: .*ring.obj" "$work/missing.log"; then
  cat "$work/missing.log" >&2
  fail "demo720.exe without ring.obj: expected one line naming it and status 1, got status $status"
fi
echo "windows-check: without ring.obj: $(cat "$work/missing.log")"

# Stills of the same moments on both systems.
if [[ -f $folder/demo-capture.exe ]]; then
  moments=3,30,70
  (cd "$folder" && timeout 600 wine ./demo-capture.exe --at $moments --size 320x180 \
    --out "$work/windows-stills") >"$work/capture.log" 2>&1 || {
    cat "$work/capture.log" >&2
    fail "demo-capture.exe failed"
  }
  (cd "$native" && ./demo-capture --at $moments --size 320x180 --out "$work/linux-stills") \
    >/dev/null
  stills_agree windows-check "$native" "$work/linux-stills" "$work/windows-stills" 40 \
    "Windows against Linux" || fail "the stills differ between Windows and Linux"
else
  echo "windows-check: note: the package has no demo-capture.exe yet; stills not compared" >&2
fi
# --- demo-capture.exe's faults. Wine can start the system's ffmpeg, but gives
# it neither the pipe for its errors nor its exit status: the cross build's
# tests/fake_encoder.exe stands in for it.
encoder=$(winepath -w "$windows/tests/fake_encoder.exe")
failed=0

capture() {
  (cd "$folder" && timeout 300 wine ./demo-capture.exe "$@") >"$work/out" 2>"$work/err"
}
# The lines the capture said on stderr, without its progress line.
said() {
  tr '\r' '\n' <"$work/err" | grep -v '^$' | grep -v 'frames/s\|stills, frame\|frames of' || true
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
    left=$(ls -A "$full" | grep -v '^filler$' || true)
    [[ -z $left ]] || bad "left on the full file system: $left"
  }
  head -c 1M /dev/zero >"$full/filler" 2>/dev/null || true
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
  echo "windows-check: note: cannot mount a tmpfs (not root): the full-disk cases are left out"
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

((failed == 0)) || fail "demo-capture.exe's faults on Windows"
echo "windows-check: the Windows package plays under Wine"

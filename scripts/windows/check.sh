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
#   - demo-capture.exe's faults only Windows has (scripts/windows/faults.sh).
# Run scripts/package.sh first. The Wine prefix is kept outside the clone
# ($WINEPREFIX, default ~/.cache/skyward/wine); the first run makes it.
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
native=${BUILD_DIR:-$root/build}
windows=${WINDOWS_BUILD_DIR:-$root/build-windows}
dist=${DIST_DIR:-$root/dist}
cache_root=${SKYWARD_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/skyward}
export WINEPREFIX=${WINEPREFIX:-$cache_root/wine} WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
# Wine names the Unix files after the locale's character set: under an ASCII
# one (no LANG, as on a bare machine) it cannot make a file whose name is
# beyond ASCII, which the viewer's test and the Windows faults make.
export LC_ALL=C.UTF-8
"$root/scripts/setup.sh" --windows

fail() {
  echo "windows-check: $*" >&2
  exit 1
}
zip=$(ls "$dist"/skyward-*-windows-x64.zip 2>/dev/null | tail -n 1) ||
  fail "no Windows package in $dist: run scripts/package.sh first"
work=$(mktemp -d)
source "$root/scripts/lib/xvfb.sh"
trap 'wineserver -k 2>/dev/null || true; xvfb_stop; rm -rf "$work"' EXIT
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
unzip -q "$zip" -d "$work/unpacked"
folder=$(ls -d "$work"/unpacked/*/ | head -n 1)
DISPLAY= "$root/scripts/checks/smoke-play.sh" "$folder" wine ./demo720.exe ||
  fail "demo720.exe did not play to a clean end"

# The resources of each program: the icon group with every size, the version
# information with the project's version, the manifest's settings.
version=$(basename "$zip" | sed 's/^skyward-\(.*\)-windows-x64\.zip$/\1/')
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
  cmake --build "$native" --target image-psnr >/dev/null
  for still in "$work"/linux-stills/still-*.png; do
    name=$(basename "$still")
    [[ -f $work/windows-stills/$name ]] || fail "demo-capture.exe wrote no $name"
    psnr=$("$native/tests/image-psnr" "$still" "$work/windows-stills/$name") ||
      fail "cannot compare the two $name"
    echo "windows-check: $name, Windows against Linux: PSNR $psnr dB"
    if [[ $psnr != inf ]] && ! awk -v p="$psnr" 'BEGIN { exit !(p >= 40) }'; then
      fail "$name differs between Windows and Linux (PSNR $psnr dB, below 40)"
    fi
  done
else
  echo "windows-check: note: the package has no demo-capture.exe yet; stills not compared" >&2
fi
"$root/scripts/windows/faults.sh" "$folder" "$windows/tests/fake_encoder.exe" || fail "demo-capture.exe's faults on Windows"
echo "windows-check: the Windows package plays under Wine"

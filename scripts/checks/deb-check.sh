#!/usr/bin/env bash
# Checks the Debian package from dist/ (or $DIST_DIR), then installs it with
# apt-get and uses it as a new user would, from a folder of its own:
#   - lintian: no error and no warning; the menu entries pass
#     desktop-file-validate and the AppStream metadata appstreamcli validate;
#   - `man` shows a page for every command; each menu entry's command exists,
#     its icon is in the hicolor theme, and the film's 720 entry plays (its
#     Exec line, on a private Xvfb screen: loading bar, Escape, status 0);
#   - the commands speak of themselves in their help, write into the user's
#     folder (skyward-capture by default and with --out, skyward-view's S key),
#     and run a --ffmpeg program named relative to it.
# Run scripts/package.sh first.
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
dist=${DIST_DIR:-$root/dist}
deb=$(ls "$dist"/skyward_*_amd64.deb 2>/dev/null | tail -n 1) || {
  echo "deb-check: no Debian package in $dist: run scripts/package.sh first" >&2
  exit 1
}
fail() {
  echo "deb-check: $*" >&2
  exit 1
}
work=$(mktemp -d)
viewer=""
source "$root/scripts/lib/xvfb.sh"
cleanup() {
  [[ -n $viewer ]] && kill "$viewer" 2>/dev/null
  xvfb_stop
  rm -rf "$work"
}
trap cleanup EXIT

# The package as it is: lintian (informational tags are listed, not fatal),
# then the menu entries and the metadata as they are packed.
lintian --fail-on error,warning "$deb" 2> >(grep -v "root privileges" >&2) ||
  fail "lintian finds errors or warnings in $(basename "$deb")"
dpkg-deb -x "$deb" "$work/unpacked"
desktop-file-validate "$work"/unpacked/usr/share/applications/*.desktop ||
  fail "a menu entry does not pass desktop-file-validate"
appstreamcli validate --no-net "$work"/unpacked/usr/share/metainfo/*.metainfo.xml ||
  fail "the AppStream metadata does not pass appstreamcli validate"
echo "deb-check: lintian, desktop-file-validate and appstreamcli validate pass"

sudo=""
if [[ $(id -u) -ne 0 ]]; then sudo="sudo"; fi
DEBIAN_FRONTEND=noninteractive $sudo apt-get install --reinstall -y -qq --no-install-recommends "$deb" >/dev/null
echo "deb-check: installed $(basename "$deb")"
user=$work/user
mkdir -p "$user"
cd "$user"

# Manual pages: `man` finds and formats one for each command.
for command in skyward skyward-capture skyward-view skyward-farm; do
  page=$(MANWIDTH=80 man "$command" 2>&1) || fail "man $command: $page"
  if ! grep -q "^NAME" <<<"$page" || ! grep -Eq "^ +$command +- " <<<"$page"; then
    fail "man $command shows no page of its own"
  fi
done
man skyward | grep -q "Escape" || fail "man skyward does not name the film's keys"
man skyward-view | grep -q "Period / Comma" || fail "man skyward-view does not name the viewer's keys"

# Menu entries: each one's command is installed and its icon is in the theme.
for entry in /usr/share/applications/skyward*.desktop; do
  exec_line=$(sed -n 's/^Exec=//p' "$entry")
  command -v "${exec_line%% *}" >/dev/null || fail "$entry: no command ${exec_line%% *}"
  icon=$(sed -n 's/^Icon=//p' "$entry")
  for size in 16 32 48 256; do
    [[ -s /usr/share/icons/hicolor/${size}x$size/apps/$icon.png ]] ||
      fail "$entry: no ${size}x$size icon $icon in the hicolor theme"
  done
done
entries=(/usr/share/applications/skyward*.desktop)
((${#entries[@]} == 3)) || fail "${#entries[@]} menu entries, not 3"
echo "deb-check: man pages and menu entries are installed"

# Help: each command's own name and words.
for command in skyward skyward-capture skyward-view; do
  help=$("$command" --help) || fail "$command --help failed: $help"
  [[ $(head -n 1 <<<"$help") == "Usage: $command "* ]] ||
    fail "$command --help does not start with its own usage: $(head -n 1 <<<"$help")"
  if grep -E "demo-capture|demo-view|demo1080|build folder" <<<"$help"; then
    fail "$command --help speaks of the build"
  fi
done
# The farm names itself too (its help may name a build folder: it can run one).
[[ $(skyward-farm --help | head -n 1) == "Usage: skyward-farm "* ]] ||
  fail "skyward-farm --help does not start with its own usage"
echo "deb-check: skyward, skyward-capture, skyward-view and skyward-farm --help name themselves"

# The film's 720 menu entry, played as the menu runs it.
exec_line=$(sed -n 's/^Exec=//p' /usr/share/applications/skyward-720.desktop)
# shellcheck disable=SC2086 # the Exec line is split into words, as the menu does
DISPLAY='' "$root/scripts/checks/smoke-play.sh" "$user" $exec_line

# skyward-capture writes into the user's folder, by default and with a
# relative --out, never into the package's asset folder. Without a display it
# renders through EGL, with no X server.
grab=(env -u DISPLAY)
"${grab[@]}" skyward-capture --at 3 --size 320x180
[[ -s still-003.000.png ]] || fail "skyward-capture without --out wrote no still into $user"
[[ ! -e /usr/share/skyward/still-003.000.png ]] || fail "skyward-capture wrote into /usr/share/skyward"
"${grab[@]}" skyward-capture --at 3 --size 320x180 --out stills
[[ -s stills/still-003.000.png ]] || fail "skyward-capture wrote no still into $user/stills"
# A --ffmpeg program named relative to the user's folder is the one run.
printf '#!/bin/sh\necho ran > "$(dirname "$0")/ffmpeg-ran"\nexit 1\n' >my-ffmpeg
chmod +x my-ffmpeg
if "${grab[@]}" skyward-capture --ffmpeg ./my-ffmpeg --video film.mp4 --size 32x18 --fps 1 \
  2>"$work/capture.log"; then
  fail "skyward-capture succeeded with an ffmpeg that fails"
fi
[[ -s ffmpeg-ran ]] || fail "skyward-capture --ffmpeg ./my-ffmpeg did not run $user/my-ffmpeg: $(cat "$work/capture.log")"
echo "deb-check: skyward-capture writes stills into the user's folder and runs --ffmpeg ./my-ffmpeg"

# skyward-view's S key saves into the user's folder.
xvfb_start 1280x720
skyward-view --size 320x180 >"$work/view.log" 2>&1 &
viewer=$!
window=$(timeout 60 xdotool search --sync --class '^GLFW-Application$' | head -n 1) ||
  fail "skyward-view opened no window: $(cat "$work/view.log")"
xdotool windowfocus --sync "$window" 2>/dev/null || true
xdotool mousemove --window "$window" 10 10
sleep 2 # the first frames
xdotool key s
for _ in $(seq 300); do
  compgen -G "view-*.png" >/dev/null && break
  sleep 0.1
done
xdotool key Escape
wait_gone "$viewer" 30 || true
status=0
wait "$viewer" || status=$?
viewer=""
compgen -G "view-*.png" >/dev/null || fail "skyward-view's S saved nothing into $user: $(cat "$work/view.log")"
((status == 0)) || fail "skyward-view ended with status $status: $(cat "$work/view.log")"
if compgen -G "/usr/share/skyward/view-*.png" >/dev/null; then
  fail "skyward-view saved into /usr/share/skyward"
fi
echo "deb-check: skyward-view saves $(compgen -G 'view-*.png') into the user's folder"
echo "deb-check: the package passes its checks, and skyward, skyward-capture and skyward-view work from $user"

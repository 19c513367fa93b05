#!/usr/bin/env bash
# Installs the Debian package from dist/ (or $DIST_DIR) with apt-get, then,
# from a folder of its own, plays the film with `skyward 720` on a private
# Xvfb screen (loading bar, Escape, exit status 0) and makes a still with
# `skyward-capture` (through EGL, no X server). Run scripts/package.sh first.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
dist=${DIST_DIR:-$root/dist}
deb=$(ls "$dist"/skyward_*_amd64.deb 2>/dev/null | tail -n 1) || {
  echo "deb-check: no Debian package in $dist: run scripts/package.sh first" >&2
  exit 1
}
sudo=""
if [[ $(id -u) -ne 0 ]]; then sudo="sudo"; fi
DEBIAN_FRONTEND=noninteractive $sudo apt-get install --reinstall -y -qq --no-install-recommends "$deb" >/dev/null
echo "deb-check: installed $(basename "$deb")"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
DISPLAY= "$root/scripts/smoke-play.sh" "$work" skyward 720
# Without a display the capture renders through EGL, with no X server.
env -u DISPLAY skyward-capture --at 3 --size 320x180 --out stills
[[ -s stills/still-003.000.png ]] || {
  echo "deb-check: skyward-capture wrote no still into $work/stills" >&2
  exit 1
}
echo "deb-check: skyward plays and skyward-capture works from $work"

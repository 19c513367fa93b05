#!/usr/bin/env bash
# Installs the Debian package from dist/ (or $DIST_DIR) with apt-get, then,
# from a folder of its own, plays the film with `skyward 720` on a private
# Xvfb screen (loading bar, Escape, exit status 0) and makes a still with
# `skyward-capture`. Run scripts/package.sh first.
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
xvfb-run -a -s "-screen 0 1280x720x24" skyward-capture --at 3 --size 320x180 --out stills
[[ -s stills/still-003.000.png ]] || {
  echo "deb-check: skyward-capture wrote no still into $work/stills" >&2
  exit 1
}
echo "deb-check: skyward plays and skyward-capture works from $work"
# skyward-farm with its default capture command, skyward-capture: two ranges
# at a tiny size, joined (about half a minute).
xvfb-run -a -s "-screen 0 1280x720x24" skyward-farm --size 64x36 --fps 1 --ranges 2 -j 2 farm/film.mp4
[[ -s farm/film.mp4 && ! -e farm/.skyward-farm ]] || {
  echo "deb-check: skyward-farm left no video (or its ranges) in $work/farm" >&2
  exit 1
}
echo "deb-check: skyward-farm works from $work"

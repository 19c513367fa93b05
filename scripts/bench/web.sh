#!/usr/bin/env bash
# The web page's benchmark (figures only, no pass or fail): builds the site
# (scripts/web.sh --build) unless SITE names a folder to serve instead, then
# drives Debian's Chromium, headless with SwiftShader, through
# tests/web/web_bench.js, which prints the bytes transferred, the time to
# "ready", the time from the click to the first film frame, the longest
# stretch the page's main thread did not answer and the film's frame time at
# 1280 x 720.
#   scripts/bench.sh web                 build, then measure build-web/site
#   SITE=DIR scripts/bench.sh web        measure the site in DIR as it is
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
web=${WEB_BUILD_DIR:-$root/build-web}
site=${SITE:-}
if [[ -z $site ]]; then
  "$root/scripts/setup.sh" --web
  "$root/scripts/web.sh" --build >/dev/null
  site=$web/site
fi
[[ -f $site/index.html ]] || {
  echo "web-bench: cannot use $site: it holds no index.html" >&2
  exit 1
}
if [[ ! -d $root/tests/web/node_modules/puppeteer-core ]]; then
  (cd "$root/tests/web" && PUPPETEER_SKIP_DOWNLOAD=1 PUPPETEER_SKIP_CHROMIUM_DOWNLOAD=1 \
    npm ci --no-audit --no-fund --loglevel=error)
fi
echo "web-bench: $site, Chromium $(/usr/bin/chromium --version 2>/dev/null | awk '{print $2}'), $(nproc) cores"
timeout 900 node "$root/tests/web/web_bench.js" "$site" "${FILM_SECONDS:-12}"

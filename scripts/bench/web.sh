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
#   BUSY=N scripts/bench.sh web          ... with N CPU-bound processes running
#                                        beside the browser (ended afterwards)
# It prints the load average before and after.
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
busy=${BUSY:-0}
[[ $busy =~ ^[0-9]+$ ]] || {
  echo "web-bench: cannot use BUSY=$busy: it is not a count of processes" >&2
  exit 2
}
busy_pids=()
end_busy() {
  for pid in "${busy_pids[@]}"; do kill "$pid" 2>/dev/null || true; done
}
trap end_busy EXIT
for ((i = 0; i < busy; ++i)); do
  yes >/dev/null &
  busy_pids+=($!)
done
load() { cut -d' ' -f1-3 /proc/loadavg; }
echo "web-bench: $site, Chromium $(/usr/bin/chromium --version 2>/dev/null | awk '{print $2}'), $(nproc) cores, $busy CPU-bound processes beside it, load average $(load)"
timeout 900 node "$root/tests/web/web_bench.js" "$site" "${FILM_SECONDS:-12}"
echo "web-bench: load average after: $(load)"

#!/usr/bin/env bash
# Tests the web build in Debian's Chromium, headless, with SwiftShader: builds
# it (scripts/web.sh --build), makes reference stills with the native
# demo-capture, installs the browser driver (npm, no browser download) and
# runs tests/web/web_test.js over the site folder alone, comparing stills
# with the tests' image-psnr. Prints its figures. Bounded in time.
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
native=${BUILD_DIR:-$root/build}
web=${WEB_BUILD_DIR:-$root/build-web}
"$root/scripts/setup.sh" --web
started=$SECONDS
"$root/scripts/web.sh" --build
echo "web-test: web build took $((SECONDS - started)) s"

if [[ ! -x $native/demo-capture || ! -x $native/tests/image-psnr ]]; then
  cmake -S "$root" --preset native -B "$native" >/dev/null
  cmake --build "$native" -j"${JOBS:-2}" --target demo-capture image-psnr
fi
references=$(mktemp -d)
trap 'rm -rf "$references"' EXIT
(cd "$native" && ./demo-capture --at 3,30,70 \
  --size 320x180 --out "$references" 2>/dev/null)

(cd "$root/tests/web" && PUPPETEER_SKIP_DOWNLOAD=1 PUPPETEER_SKIP_CHROMIUM_DOWNLOAD=1 \
  npm ci --no-audit --no-fund --loglevel=error)
started=$SECONDS
timeout 900 node "$root/tests/web/web_test.js" "$web/site" "$references" "$native/tests/image-psnr"
echo "web-test: browser checks took $((SECONDS - started)) s"

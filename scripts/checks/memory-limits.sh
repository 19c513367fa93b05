#!/usr/bin/env bash
# Runs demo-capture under a 2.5 GB address-space limit with what would need
# more: a 10 MB run-length TGA that declares 16384 x 16384 pixels in place of
# spaceship.tga, and render targets of 8192 x 8192. Each must end with status
# 1 and one line on stderr naming the reason, never a crash or an abort.
# Without a display demo-capture renders through EGL. CAPTURE picks another
# binary.
set -uo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
build=${BUILD_DIR:-$root/build}
capture=${CAPTURE:-$build/demo-capture}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
for name in normal-map.tga spaceship.obj spaceship.tga spaceship-normal-map.tga orvane.obj \
  kelthar.obj ring.obj greetings.obj; do
  ln -s "$build/$name" "$work/$name"
done

failed=0
# Runs the capture in the asset folder under the limit; expects status 1 and
# exactly one line on stderr.
expect_refusal() {
  local what=$1
  shift
  local status=0
  (cd "$work" && ulimit -v 2500000 && exec "$capture" "$@" --out "$work/stills") \
    >"$work/out" 2>"$work/err" || status=$?
  local lines
  lines=$(wc -l <"$work/err")
  echo "$what: status $status, $lines line(s) on stderr: $(head -c 300 "$work/err")"
  if ((status != 1 || lines != 1)); then
    echo "memory-limits: $what: expected status 1 and one line" >&2
    failed=1
  fi
}

rm "$work/spaceship.tga"
python3 - "$work/spaceship.tga" <<'EOF'
import struct, sys
side = 16384
header = struct.pack("<BBBHHBHHHHBB", 0, 0, 10, 0, 0, 0, 0, 0, side, side, 32, 0)
packet = bytes([0xFF, 0x40, 0x40, 0x40, 0xFF])  # 128 copies of one pixel
with open(sys.argv[1], "wb") as f:
    f.write(header + packet * (side * side // 128))
EOF
expect_refusal "16384 x 16384 RLE image" --at 1 --size 64x36
rm "$work/spaceship.tga"
ln -s "$build/spaceship.tga" "$work/spaceship.tga"
expect_refusal "8192 x 8192 render targets" --at 1 --size 8192x8192
exit "$failed"

#!/usr/bin/env bash
# The benchmarks behind one entry: each prints figures and asserts nothing
# about time.
#   scripts/bench.sh farm            the capture farm: 1 worker against 2, a
#                                    range's fixed cost, a 4K frame
#   scripts/bench.sh gpu [--seconds N]
#                                    the film on this machine's GPU: start-up,
#                                    each step's GPU time, the capture rate
#   scripts/bench.sh web             the web page in headless Chromium
#   scripts/bench.sh windows-exit [RUNS [FOLDER]]
#                                    the Windows player's exit under Wine
#   scripts/bench.sh frame-time      the player's frame time on X11 and on
#                                    Wayland (weston), one after the other
# Each is scripts/bench/NAME.sh, which says the rest (its options, its
# environment).
set -euo pipefail
bench=$(cd "$(dirname "$0")/bench" && pwd)
names=$(cd "$bench" && ls *.sh | sed 's/\.sh$//' | tr '\n' ' ')
if (($# == 0)) || [[ ! -f $bench/${1:-}.sh ]]; then
  echo "bench: ${1:+unknown benchmark '$1'; }usage: scripts/bench.sh NAME [ARGUMENTS], NAME one of: ${names% }" >&2
  exit 2
fi
name=$1
shift
exec bash "$bench/$name.sh" "$@"

#!/usr/bin/env bash
# Plays demo720.exe from the unpacked Windows package under Wine many times in
# a row on one private Xvfb screen, each ended by one short tap of Escape once
# its window has been up for a few seconds, and prints how many runs ended
# cleanly: exit status 0 and no fault reported by Wine (an unhandled
# exception, a page fault, an X error). A benchmark of the players' exit, not
# a test: it prints figures and fails only when it cannot run at all.
# Usage: scripts/bench.sh windows-exit [RUNS [FOLDER]]
#   RUNS: default 30. FOLDER: where demo720.exe and the assets are (default:
#   the Windows package in dist/, unpacked; run scripts/package.sh first).
#   EXIT_BENCH_LOGS=DIR keeps the output of each run that did not end cleanly.
set -uo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
dist=${DIST_DIR:-$root/dist}
runs=${1:-30}
source "$root/scripts/lib/wine.sh"
source "$root/scripts/lib/xvfb.sh"
[[ -f $WINEPREFIX/system.reg ]] || { echo "windows-exit-bench: no Wine prefix: run scripts/windows/check.sh first" >&2; exit 1; }
work=$(mktemp -d)
trap 'xvfb_stop; rm -rf "$work"' EXIT
if [[ -n ${2:-} ]]; then
  folder=$(cd "$2" && pwd)
else
  folder=$(windows_package "$dist" "$work") || exit 1
fi

fault='Unhandled|page fault|X Error|BadWindow|BadDrawable|err:|Assertion|terminate called'
xvfb_start 1280x720 || exit 1
clean=0 bad_status=0 faulted=0
started=$SECONDS
for ((run = 1; run <= runs; ++run)); do
  (cd "$folder" && exec wine ./demo720.exe) >"$work/run.log" 2>&1 &
  film=$!
  # Escape is read once the film plays (a press during the loading bar is
  # forgotten): wait for its picture, however long a busy machine takes.
  wait_for_film "$film" || true
  tap_escape
  wait_gone "$film" 30 || true
  status=0
  if kill -0 "$film" 2>/dev/null; then
    status="none (still playing 30 s after Escape)"
    kill "$film"
  fi
  wait "$film" 2>/dev/null || { [[ $status == 0 ]] && status=$?; }
  said=$(grep -E "$fault" "$work/run.log" | head -n 3 | tr '\n' ' ')
  if [[ $status == 0 && -z $said ]]; then
    ((++clean))
  else
    [[ $status == 0 ]] || ((++bad_status))
    [[ -z $said ]] || ((++faulted))
    echo "windows-exit-bench: run $run: status $status; ${said:-no fault line}"
    [[ -z ${EXIT_BENCH_LOGS:-} ]] || { mkdir -p "$EXIT_BENCH_LOGS" && cp "$work/run.log" "$EXIT_BENCH_LOGS/run-$run.log"; }
  fi
done
echo "windows-exit-bench: $clean of $runs runs ended with status 0 and no fault line" \
  "($bad_status with another status, $faulted with a fault line; $((SECONDS - started)) s)"

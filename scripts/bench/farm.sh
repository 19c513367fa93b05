#!/usr/bin/env bash
# Figures of the capture farm on this machine (prints them; asserts nothing
# about time). llvmpipe draws with one thread (LP_NUM_THREADS=1) and each
# worker is pinned to a core of its own (FARM_PIN: taskset by job slot), so
# a worker stands for one machine. It times:
#   - the whole film at a small size, 1 worker against 2 workers (wall time,
#     speed-up), each as 2 ranges a worker and as 8 ranges in all;
#   - the fixed cost of one range: from the two 1-worker runs (the extra
#     ranges' cost spread over them), and taken apart: start-up with the
#     encoder (a one-frame range), stepping the script to the last frame,
#     and the join and check of the farm;
#   - one frame at 3840 x 2160 (a range of 3 frames against one of 1), for
#     the wall time of a 4K, 60 frames a second capture on N machines.
# BENCH_SIZE and BENCH_FPS pick the small capture (default 128x72 at 6 fps).
# Run from anywhere; without a display the capture renders through EGL.
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
build=${BUILD_DIR:-$root/build}
size=${BENCH_SIZE:-128x72}
fps=${BENCH_FPS:-6}
parts=${BENCH_PARTS:-scaling,4k,checks,slurm}
part() { [[ ,$parts, == *,$1,* ]]; }
export LP_NUM_THREADS=1 FARM_PIN=1
capture="cd '$build' && ./demo-capture"
work=$(mktemp -d /tmp/farm-bench.XXXXXX)
trap 'rm -rf "$work"' EXIT
frames=$(awk -v f="$fps" 'BEGIN { printf "%d", int(115 * f + 1e-6) }')

now() { date +%s.%N; }
minus() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a - b }'; }
over() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.3f", a / b }'; }

# A farm run: prints its wall time; its last line goes to $work/last.
farm() {
  local jobs=$1 ranges=$2 start
  start=$(now)
  "$root/programs/farm/skyward-farm.py" --size "$size" --fps "$fps" -j "$jobs" --ranges "$ranges" \
    --capture "$capture" "$work/farm.mp4" 2>"$work/farm.log" || {
    tail -n 1 "$work/farm.log" >&2
    exit 1
  }
  minus "$(now)" "$start"
  tail -n 1 "$work/farm.log" >"$work/last"
  rm -f "$work/farm.mp4"
}

# One demo-capture range on core 0: prints its wall time.
range() {
  local frames_given=$1 range_size=$2 range_fps=$3 start
  rm -f "$work/range.mp4"
  start=$(now)
  (cd "$build" && taskset -c 0 ./demo-capture --frames "$frames_given" --size "$range_size" \
    --fps "$range_fps" --video "$work/range.mp4" 2>"$work/range.log") || {
    tail -n 1 "$work/range.log" >&2
    exit 1
  }
  minus "$(now)" "$start"
}

load() { cut -d' ' -f1-3 /proc/loadavg; }
# Other work on the machine shares the cores the workers are pinned to: the
# load average is printed with the figures.
echo "farm-bench: $frames frames of $size at $fps fps, LP_NUM_THREADS=1, one core per worker" \
  "(load average $(load))"
if part scaling || part 4k; then
one_two=$(farm 1 2)
one_eight=$(farm 1 8)
join=$(sed -n 's/.*joining and checking \([0-9.]*\) s.*/\1/p' "$work/last")
two_two=$(farm 2 4)
two_eight=$(farm 2 8)
printf '  1 worker,  2 ranges  %8.1f s wall  %6.2f frames/s\n' "$one_two" "$(over "$frames" "$one_two")"
printf '  1 worker,  8 ranges  %8.1f s wall\n' "$one_eight"
printf '  2 workers, 4 ranges  %8.1f s wall  %6.2f frames/s  speed-up %.2f\n' "$two_two" \
  "$(over "$frames" "$two_two")" "$(over "$one_two" "$two_two")"
printf '  2 workers, 8 ranges  %8.1f s wall  speed-up %.2f\n' "$two_eight" \
  "$(over "$one_eight" "$two_eight")"
per_range=$(awk -v a="$one_eight" -v b="$one_two" 'BEGIN { printf "%.2f", (a - b) / 6 }')
printf '  fixed cost per range (1 worker, 8 ranges against 2)  %.2f s\n' "$per_range"

first=$(range 1-1 "$size" "$fps")
last=$(range "$frames-$frames" "$size" "$fps")
printf '  one-frame range at frame 1 (start-up, encoder, 1 frame, finish)  %.2f s\n' "$first"
printf '  one-frame range at frame %d (the same, stepping %d frames)       %.2f s\n' "$frames" \
  $((frames - 1)) "$last"
printf '  join and check of 8 ranges                                 %.2f s\n' "$join"

fi

if part 4k; then
# 3840 x 2160 at 60: one frame's time from 3 frames against 1, mid-film.
one=$(range 3450-3450 3840x2160 60)
three=$(range 3450-3452 3840x2160 60)
frame_4k=$(awk -v a="$three" -v b="$one" 'BEGIN { printf "%.2f", (a - b) / 2 }')
# The fixed cost of a range: the one-frame range at the small size less one
# frame of the 1-worker run (start-up, stepping, encoder start and finish).
start_4k=$(awk -v a="$first" -v t="$one_two" -v n="$frames" 'BEGIN { printf "%.2f", a - t / n }')
printf '  3840x2160: one-frame range %.2f s, three-frame range %.2f s: %.2f s a frame\n' "$one" \
  "$three" "$frame_4k"
printf '  fixed cost of a range (one-frame range less one frame)      %.2f s\n' "$start_4k"
awk -v t="$frame_4k" -v c="$start_4k" -v j="$join" 'BEGIN {
  printf "  4K at 60 (6900 frames) on N one-core machines, R ranges each:\n"
  printf "    wall = 6900 x %.2f / N + R x %.2f + %.1f (join)\n", t, c, j
  for (n = 1; n <= 64; n *= 4)
    printf "    N = %2d, R = 4: %7.0f s (%.1f h)\n", n, 6900 * t / n + 4 * c + j,
      (6900 * t / n + 4 * c + j) / 3600
}'
fi

# The checks a range passes before it counts (a whole decode with ffmpeg
# -xerror, counting frames, and its SHA-256), timed with the farm's own
# functions, against the render time of the same range at 1920 x 1080.
if part checks; then
  checks_frames=${BENCH_CHECK_FRAMES:-12}
  render=$(range "1001-$((1000 + checks_frames))" 1920x1080 60)
  read -r decode digest < <(python3 - "$root/programs/farm/skyward-farm.py" "$work/range.mp4" <<'EOF'
import importlib.util, sys, time
found = importlib.util.spec_from_file_location("farm", sys.argv[1])
farm = importlib.util.module_from_spec(found)
found.loader.exec_module(farm)
start = time.monotonic()
why, frames = farm.probe_video("ffmpeg", sys.argv[2])
middle = time.monotonic()
farm.sha256_of(sys.argv[2])
end = time.monotonic()
assert why is None, why
print(f"{middle - start:.3f} {end - middle:.3f}")
EOF
  )
  printf '  checks of a %d-frame 1920x1080 range (%s bytes): decode %.3f s + SHA-256 %.3f s against its render %.1f s: %.2f %%\n' \
    "$checks_frames" "$(stat -c %s "$work/range.mp4")" "$decode" "$digest" "$render" \
    "$(awk -v d="$decode" -v h="$digest" -v r="$render" 'BEGIN { print 100 * (d + h) / r }')"
fi

# Slurm against the local engine on the same ranges (small size, 2 at once).
if part slurm; then
  if [[ ${BENCH_SLURM:-} == private ]]; then
    source "$root/scripts/lib/slurm.sh"
    trap 'slurm_stop; rm -rf "$work"' EXIT
    slurm_start 2 >/dev/null
  fi
  if sinfo --noheader >/dev/null 2>&1; then
    ranges=${BENCH_SLURM_RANGES:-8}
    # Neither engine pinned: Slurm's tasks are not.
    FARM_PIN=
    # Slurm's own cost: an array of empty tasks, 2 at once, submitted to gone.
    start=$(now)
    empty=$(sbatch --parsable --array="0-$((ranges - 1))%2" --output=/dev/null --wrap=true)
    while [[ -n $(squeue --noheader --jobs="$empty" 2>/dev/null) ]]; do sleep 0.1; done
    empty_wall=$(minus "$(now)" "$start")
    printf '  %d empty Slurm tasks, 2 at once: %.1f s, %.2f s a task\n' "$ranges" "$empty_wall" \
      "$(awk -v a="$empty_wall" -v n="$ranges" 'BEGIN { print 2 * a / n }')"
    local_wall=$(farm 2 "$ranges")
    start=$(now)
    "$root/programs/farm/skyward-farm.py" --slurm --size "$size" --fps "$fps" -j 2 --ranges "$ranges" \
      --capture "$capture" "$work/farm.mp4" 2>"$work/farm.log" || {
      tail -n 1 "$work/farm.log" >&2
      exit 1
    }
    slurm_wall=$(minus "$(now)" "$start")
    rm -f "$work/farm.mp4"
    printf '  %d ranges, 2 at once: local %.1f s, Slurm %.1f s: Slurm costs %.2f s more a range\n' \
      "$ranges" "$local_wall" "$slurm_wall" \
      "$(awk -v a="$slurm_wall" -v b="$local_wall" -v n="$ranges" 'BEGIN { print (a - b) / n }')"
  else
    echo "  Slurm: no cluster answers here (sinfo); BENCH_SLURM=private starts the private one (as root)"
  fi
fi
echo "farm-bench: load average at the end $(load)"

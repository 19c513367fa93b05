#!/usr/bin/env bash
# The farm on Slurm, for real: starts the private one-node cluster of
# scripts/lib/slurm.sh on 127.0.0.1 (as root; all its state in a temporary
# folder), then
#   1. renders the film with --slurm (one job array, two tasks at a time, and
#      a join job that depends on it) and with the local engine on the same
#      ranges, and compares the two videos: frame count, duration, and every
#      frame at 40 dB or more (the tests' image-psnr);
#   2. makes one range fail (its capture command exits 3 for frames 29-57):
#      the run ends with one line naming the range, the node and the task's
#      log, and no job of the run is left queued or running;
#   3. interrupts a run (SIGINT, as Ctrl-C) while its tasks run: the run's
#      jobs are cancelled, and a job of someone else's is not;
#   4. submits with --no-wait: the job ids are printed at once, and the join
#      job writes the video;
# and stops the cluster and removes its folder, however it ends. About two
# minutes here (64x36, 1 fps).
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
build=${BUILD_DIR:-$root/build}
farm=$root/programs/farm/skyward-farm.py
say() { echo "farm-slurm-check: $*" >&2; }
fail() {
  say "$*"
  exit 1
}
for program in sbatch squeue scancel slurmctld slurmd munged ffmpeg ffprobe; do
  command -v "$program" >/dev/null || [[ -x /usr/sbin/$program ]] ||
    fail "cannot run $program: not found (scripts/setup.sh --farm installs it)"
done
[[ -x $build/demo-capture && -x $build/tests/image-psnr ]] ||
  fail "cannot use $build: demo-capture or tests/image-psnr is not built"

source "$root/scripts/lib/slurm.sh"
trap slurm_stop EXIT
trap 'exit 130' INT
trap 'exit 143' TERM
slurm_start 2 || fail "cannot start the cluster (see the logs above)"
# The folder every node sees: this one node's own disk.
share=$slurm_dir/share
mkdir -p "$share"
capture="cd '$build' && ./demo-capture"
settings=(--size 64x36 --fps 1 --ranges 4 -j 2)
# No display on the nodes: the ranges render through EGL.
unset DISPLAY

# Prints frames and duration of a video (frames decoded).
facts() {
  ffprobe -v error -count_frames -select_streams v:0 \
    -show_entries stream=nb_read_frames:format=duration -of default=nw=1:nk=1 "$1" | tr '\n' ' '
}
# Whether any job other than those named is still queued or running.
live_jobs() {
  squeue --noheader --states=PENDING,RUNNING,COMPLETING,CONFIGURING --format=%i "$@"
}

# 1. The same film through Slurm and through the local engine.
start=$SECONDS
"$farm" --slurm "${settings[@]}" --capture "$capture" "$share/slurm.mp4" 2>"$share/slurm.log" ||
  fail "the Slurm farm failed: $(tail -n 1 "$share/slurm.log")"
slurm_seconds=$((SECONDS - start))
start=$SECONDS
"$farm" "${settings[@]}" --capture "$capture" "$share/local.mp4" 2>"$share/local.log" ||
  fail "the local farm failed: $(tail -n 1 "$share/local.log")"
local_seconds=$((SECONDS - start))
read -r slurm_frames slurm_duration <<<"$(facts "$share/slurm.mp4")"
read -r local_frames local_duration <<<"$(facts "$share/local.mp4")"
[[ $slurm_frames == 115 && $local_frames == 115 && $slurm_duration == "$local_duration" ]] ||
  fail "Slurm's video has $slurm_frames frames and $slurm_duration s, the local one" \
    "$local_frames and $local_duration s (115 frames each)"
mkdir -p "$share/frames-slurm" "$share/frames-local"
ffmpeg -v error -i "$share/slurm.mp4" "$share/frames-slurm/f-%04d.png"
ffmpeg -v error -i "$share/local.mp4" "$share/frames-local/f-%04d.png"
worst=inf worst_frame=
for frame in "$share"/frames-local/f-*.png; do
  name=${frame##*/}
  db=$("$build/tests/image-psnr" "$frame" "$share/frames-slurm/$name")
  if [[ $worst == inf ]] || { [[ $db != inf ]] && awk -v a="$db" -v b="$worst" 'BEGIN { exit !(a < b) }'; }; then
    [[ $db == inf && $worst == inf ]] || {
      worst=$db
      worst_frame=$name
    }
  fi
done
[[ $worst == inf ]] || awk -v a="$worst" 'BEGIN { exit !(a >= 40) }' ||
  fail "frame $worst_frame of Slurm's video is at $worst dB of the local one's (40 at least)"
say "1. Slurm's video equals the local one (115 frames, $slurm_duration s, worst frame $worst dB);" \
  "Slurm ${slurm_seconds} s, local ${local_seconds} s"

# 2. A failing range ends the run with one line: range, node, log.
failing="case \" \$* \" in *' 29-57 '*) if [ \"\${*#*--fingerprint}\" = \"\$*\" ]; then echo 'simulated failure of this range' >&2; exit 3; fi;; esac; $capture"
status=0
"$farm" --slurm "${settings[@]}" --capture "$failing" "$share/failing.mp4" 2>"$share/failing.log" ||
  status=$?
line=$(tail -n 1 "$share/failing.log")
[[ $status == 1 ]] || fail "a failing range ended the run with status $status, not 1: $line"
[[ $line == "skyward-farm: cannot render frames 29-57 on "*": simulated failure of this range (its log: "*"/logs/range-000029-000057.log;"* ]] ||
  fail "a failing range ended the run with: $line"
sleep 2
[[ -z $(live_jobs) ]] || fail "jobs are left after a failing range: $(live_jobs | paste -sd ' ')"
say "2. a failing range: $line"

# 3. Ctrl-C cancels the run's jobs, and nobody else's.
bystander=$(sbatch --parsable --output=/dev/null --wrap='sleep 300')
"$farm" --slurm --size 64x36 --fps 1 --ranges 4 -j 1 --capture "$capture" "$share/cancel.mp4" 2>"$share/cancel.log" &
farm_pid=$!
for _ in $(seq 150); do
  [[ -z $(ls "$share/.skyward-farm/cancel.mp4/logs/"range-* 2>/dev/null) ]] || break
  sleep 0.2
done
jobs_of_run=$(cat "$share/.skyward-farm/cancel.mp4/slurm/jobs" 2>/dev/null) ||
  fail "the run to cancel submitted no job: $(tail -n 1 "$share/cancel.log")"
kill -INT "$farm_pid"
status=0
wait "$farm_pid" || status=$?
[[ $status == 130 ]] || fail "Ctrl-C ended the run with status $status, not 130: $(tail -n 1 "$share/cancel.log")"
# shellcheck disable=SC2086 # the run's job ids
slurm_wait_gone "${jobs_of_run// /,}" 30 || fail "the run's jobs $jobs_of_run are still there after Ctrl-C"
for job in $jobs_of_run; do
  state=$(slurm_job_state "$job")
  [[ $state == CANCELLED* ]] || fail "job $job of the interrupted run ended $state, not CANCELLED"
done
[[ $(slurm_job_state "$bystander") == RUNNING ]] ||
  fail "someone else's job $bystander is $(slurm_job_state "$bystander") after Ctrl-C, not RUNNING"
scancel "$bystander"
say "3. Ctrl-C cancelled jobs $jobs_of_run, and not job $bystander: $(tail -n 1 "$share/cancel.log")"
slurm_wait_gone "$bystander" 30 || true

# 4. --no-wait: the ids at once, the video from the join job.
ids=$("$farm" --slurm --no-wait "${settings[@]}" --capture "$capture" "$share/later.mp4" 2>"$share/later.log") ||
  fail "--no-wait failed: $(tail -n 1 "$share/later.log")"
read -r array join <<<"$ids"
slurm_wait_gone "$array,$join" 300 || fail "jobs $array and $join have not ended after 300 s"
[[ $(slurm_job_state "$join") == COMPLETED ]] ||
  fail "the join job $join ended $(slurm_job_state "$join"): $(cat "$share/.skyward-farm/join-$join.log")"
read -r later_frames _ <<<"$(facts "$share/later.mp4")"
[[ $later_frames == 115 ]] || fail "the --no-wait video has $later_frames frames, not 115"
say "4. --no-wait: jobs $array and $join wrote a video of 115 frames"

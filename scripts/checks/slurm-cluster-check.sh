#!/usr/bin/env bash
# The private Slurm cluster of scripts/lib/slurm.sh, checked for what the farm
# relies on (about 20 s, as root):
#   - a job array of 4 tasks capped at 2 at a time (%2) on a node of 4
#     processors runs every task, never more than 2 at once, each writing its
#     files to a shared folder;
#   - a job submitted with --dependency=afterok:ARRAYID starts only after every
#     task has ended and sees all their files;
#   - when one task fails, its exit status shows in `scontrol show job` and in
#     the completion log, and the dependent job never runs: the controller
#     cancels it (Reason=DependencyNeverSatisfied);
#   - scancel ends a running job and its processes;
# then prints the cluster's start time and what a trivial array task costs.
#
# How a caller learns a task's exit status and node: there is no accounting
# database, so sacct answers "Slurm accounting storage is disabled". The
# controller keeps finished jobs for MinJobAge (a day here): `scontrol show
# job ARRAYID_TASK` gives JobState, ExitCode=STATUS:SIGNAL and NodeList, and
# `squeue --states=all` lists finished tasks (CD, F, CA). The completion log
# $slurm_dir/jobs.log has one line per finished task with the same fields.
# A task that must report more (its output's name, its own checks) writes a
# status file of its own to the shared folder, as the tasks here do.
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
source "$root/scripts/lib/slurm.sh"
say() { echo "slurm-cluster-check: $*" >&2; }
fail() {
  say "cannot $1: $2"
  exit 1
}
now_ms() { echo $(($(date +%s%N) / 1000000)); }

trap slurm_stop EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

started=$(now_ms)
slurm_start 4 || fail "start the cluster" "see the logs above"
echo "slurm-cluster-check: the cluster started in $(($(now_ms) - started)) ms"
host=$(uname -n | cut -d. -f1)
share=$slurm_dir/share
mkdir -p "$share"
cd "$share"

# Prints FIELD=value of job ID as `scontrol show job` has it.
job_field() {
  scontrol show job "$1" | tr ' ' '\n' | sed -n "s/^$2=//p" | head -n 1
}

# Waits up to 30 s until job ID has finished, and checks its state.
expect_finished() {
  local id=$1 state=$2 what=$3 actual
  slurm_wait_gone "$id" 30 || fail "$what" "job $id has not ended after 30 s"
  actual=$(slurm_job_state "$id")
  [[ $actual == "$state" ]] || fail "$what" "job $id ended $actual, not $state"
}

# One task: marks its start and end (nanoseconds) and writes its status file
# (task, node, status); task number FAILING exits 3.
cat >task.sh <<'EOF'
#!/bin/bash
task=$SLURM_ARRAY_TASK_ID
date +%s%N >"start.$task"
sleep 1
status=0
[[ $task != "${FAILING:-none}" ]] || status=3
echo "$task $(uname -n | cut -d. -f1) $status" >"status.$task"
date +%s%N >"end.$task"
exit "$status"
EOF

# An array of 4 tasks, 2 at a time, and a job that depends on all of them.
array=$(sbatch --parsable --array=0-3%2 --output=/dev/null task.sh)
after=$(sbatch --parsable --dependency="afterok:$array" --output=/dev/null \
  --wrap='{ date +%s%N; ls status.* | wc -l; } >after')
expect_finished "$array" COMPLETED "run a capped array"
expect_finished "$after" COMPLETED "run a job after an array"
for task in 0 1 2 3; do
  [[ $(cat "status.$task") == "$task $host 0" ]] ||
    fail "run a capped array" "task $task wrote '$(cat "status.$task" 2>/dev/null)'"
  [[ $(job_field "${array}_$task" ExitCode) == 0:0 && $(job_field "${array}_$task" NodeList) == "$host" ]] ||
    fail "read a task's end" "scontrol shows task $task with ExitCode=$(job_field "${array}_$task" ExitCode)"
done
# The most tasks at once, from their start and end marks.
most=$(for task in 0 1 2 3; do
  echo "$(cat "start.$task") 1"
  echo "$(cat "end.$task") -1"
done | sort -n -k1,1 -k2,2 | awk '{ n += $2; if (n > m) m = n } END { print m }')
[[ $most == 2 ]] || fail "cap an array at 2 tasks" "$most ran at once"
last_end=$(cat end.* | sort -n | tail -n 1)
{
  read -r after_start
  read -r after_saw
} <after
((after_start >= last_end)) || fail "hold a job until its array ends" "it started before the last task ended"
[[ $after_saw == 4 ]] || fail "hold a job until its array ends" "it saw $after_saw status files"

# Task 1 of 3 fails: its status shows, and the dependent job never runs.
rm -f status.* start.* end.*
failing=$(FAILING=1 sbatch --parsable --array=0-2 --output=/dev/null task.sh)
never=$(sbatch --parsable --dependency="afterok:$failing" --output=/dev/null --wrap='touch never')
slurm_wait_gone "$failing" 30 || fail "run a failing array" "still running after 30 s"
[[ $(job_field "${failing}_1" JobState) == FAILED && $(job_field "${failing}_1" ExitCode) == 3:0 ]] ||
  fail "read a failed task's end" "scontrol shows $(job_field "${failing}_1" JobState) $(job_field "${failing}_1" ExitCode)"
[[ $(job_field "${failing}_0" JobState) == COMPLETED ]] || fail "run a failing array" "task 0 did not complete"
grep -q "ArrayJobId=$failing ArrayTaskId=1 .*ExitCode=3:0" "$slurm_dir/jobs.log" ||
  fail "read $slurm_dir/jobs.log" "no line for the failed task"
expect_finished "$never" CANCELLED "cancel a job whose dependency failed"
[[ $(job_field "$never" Reason) == DependencyNeverSatisfied ]] ||
  fail "cancel a job whose dependency failed" "reason $(job_field "$never" Reason)"
[[ ! -e never ]] || fail "cancel a job whose dependency failed" "it ran"

# scancel ends a running job and its processes.
long=$(sbatch --parsable --output=/dev/null --wrap='echo $$ >long.pid; exec sleep 300')
for _ in $(seq 300); do
  [[ -s long.pid ]] && break
  sleep 0.1
done
[[ -s long.pid ]] || fail "start a job" "it did not start in 30 s"
scancel "$long"
expect_finished "$long" CANCELLED "cancel a running job"
! kill -0 "$(cat long.pid)" 2>/dev/null || fail "cancel a running job" "its process $(cat long.pid) still runs"

# Figures: one trivial job from submission to its end, three times, then 20
# trivial array tasks 2 at a time.
for round in 1 2 3; do
  started=$(now_ms)
  one=$(sbatch --parsable --output=/dev/null --wrap=true)
  slurm_wait_gone "$one" 30 || fail "run a trivial job" "still running after 30 s"
  echo "slurm-cluster-check: one trivial job, submitted to ended ($round): $(($(now_ms) - started)) ms"
done
started=$(now_ms)
many=$(sbatch --parsable --array=0-19%2 --output=/dev/null --wrap=true)
expect_finished "$many" COMPLETED "run 20 trivial tasks"
took=$(($(now_ms) - started))
echo "slurm-cluster-check: 20 trivial array tasks, 2 at a time: $took ms, $((took * 2 / 20)) ms per task and slot"
started=$(now_ms)
slurm_stop
echo "slurm-cluster-check: the cluster stopped in $(($(now_ms) - started)) ms"
echo "slurm-cluster-check: all checks passed"

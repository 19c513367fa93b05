# slurm.sh: a private one-node Slurm cluster on 127.0.0.1 for the farm's
# checks. Everything it makes lives in one temporary folder (configuration,
# munge key and socket, spool, state, logs, pid files); it never reads or
# writes /etc/slurm or the system's munge. It runs as root: the jobs run as
# root too. Source it, then:
#   slurm_start [CPUS]   writes the configuration (a node named after this
#                        host's short name at 127.0.0.1 with CPUS processors,
#                        default: nproc; two free ports for the controller and
#                        the node daemon), starts munged, slurmctld and slurmd,
#                        exports SLURM_CONF and waits (up to
#                        $SLURM_START_TIMEOUT seconds, default 30) until sinfo
#                        shows the node idle; on failure prints the daemons'
#                        logs and one line on stderr, stops what it started and
#                        returns non-zero
#   slurm_stop           cancels the cluster's jobs, stops the daemons
#                        slurm_start started and removes the folder; safe to
#                        call twice or when none started: call it from the
#                        caller's EXIT trap
#   slurm_env            prints the export lines another shell needs to reach
#                        the cluster (SLURM_CONF)
#   slurm_job_state ID   prints a finished or live job's state (COMPLETED,
#                        FAILED, CANCELLED, PENDING, ...) from the controller
#   slurm_wait_gone ID [S]  waits up to S seconds (default 60) until job ID
#                        (every task of an array; every job when ID is empty)
#                        has left the pending, running and completing states;
#                        fails if it has not, or the controller does not answer
# After slurm_start, slurm_dir names the folder; jobs may write under it.
# For example:
#   source scripts/lib/slurm.sh
#   trap slurm_stop EXIT
#   slurm_start 2
#   id=$(sbatch --parsable --array=0-3%2 --output=/dev/null render-range.sh)
#   slurm_wait_gone "$id" 600 && [[ $(slurm_job_state "$id") == COMPLETED ]]
# The daemons are background jobs of the calling shell: a bare `wait` there
# waits for them too, so wait for the caller's own processes by their ids.
#
# What a caller learns about finished jobs: there is no accounting database,
# so sacct only answers "Slurm accounting storage is disabled". The
# controller keeps each finished job for MinJobAge seconds (a day here):
# `scontrol show job ID` (ARRAYID_TASK for one task of an array) then gives
# JobState, ExitCode=STATUS:SIGNAL and NodeList; a job whose dependency can no
# longer be met ends CANCELLED with Reason=DependencyNeverSatisfied.
# `squeue --states=all` lists finished jobs too. The completion log
# ($slurm_dir/jobs.log, one line per finished job or array task: JobId,
# JobState, NodeList, ExitCode, ...) keeps the same record for as long as the
# cluster lives.
slurm_dir=
slurm_munged_pid=
slurm_ctld_pid=
slurm_d_pid=

slurm_say() { echo "slurm: $*" >&2; }

# Prints a TCP port in 20000-59999 that nothing on this machine uses and that
# is not among the arguments.
slurm_free_port() {
  local used port _
  used=$(awk 'FNR > 1 { split($2, a, ":"); print strtonum("0x" a[2]) }' /proc/net/tcp /proc/net/tcp6 2>/dev/null)
  for _ in $(seq 100); do
    port=$((20000 + (RANDOM * 32768 + RANDOM) % 40000))
    if ! grep -qx "$port" <<<"$used"$'\n'"$(printf '%s\n' "$@")"; then
      echo "$port"
      return 0
    fi
  done
  return 1
}

# Prints the last lines of each daemon's log on stderr.
slurm_show_logs() {
  local log
  for log in "$slurm_dir"/log/*.log; do
    [[ -s $log ]] || continue
    echo "----- ${log##*/} (last 30 lines)" >&2
    tail -n 30 "$log" >&2
  done
}

slurm_write_conf() {
  local cpus=$1 host=$2 ctld_port=$3 d_port=$4 dir=$slurm_dir
  # No plug-ins from /etc/slurm/plugstack.conf: an empty file of our own.
  : >"$dir/plugstack.conf"
  cat >"$dir/slurm.conf" <<EOF
ClusterName=skyward
SlurmctldHost=$host(127.0.0.1)
SlurmctldPort=$ctld_port
SlurmdPort=$d_port
SlurmUser=root
SlurmdUser=root
AuthType=auth/munge
CredType=cred/munge
AuthInfo=socket=$dir/munge/socket
PlugStackConfig=$dir/plugstack.conf
StateSaveLocation=$dir/state
SlurmdSpoolDir=$dir/spool
SlurmctldPidFile=$dir/run/slurmctld.pid
SlurmdPidFile=$dir/run/slurmd.pid
SlurmctldDebug=info
SlurmdDebug=info
ProctrackType=proctrack/linuxproc
TaskPlugin=task/none
MpiDefault=none
MailProg=/bin/true
# No accounting database and no gathering of the jobs' use: both are off
# when unset.
JobCompType=jobcomp/filetxt
JobCompLoc=$dir/jobs.log
SchedulerType=sched/backfill
# Batch jobs are scheduled as soon as they come, and a job whose dependency
# can never be met is cancelled rather than left pending for ever.
SchedulerParameters=batch_sched_delay=0
DependencyParameters=kill_invalid_depend
SelectType=select/cons_tres
SelectTypeParameters=CR_CPU
# Finished jobs stay visible to scontrol and squeue for a day.
MinJobAge=86400
MaxArraySize=100001
MaxJobCount=100000
ReturnToService=2
# CPUS as given, even beyond the machine's processors.
SlurmdParameters=config_overrides
SlurmdTimeout=300
InactiveLimit=0
KillWait=5
NodeName=$host NodeAddr=127.0.0.1 CPUs=$cpus State=UNKNOWN
PartitionName=farm Nodes=$host Default=YES MaxTime=INFINITE State=UP OverSubscribe=NO
EOF
}

slurm_start() {
  local cpus=${1:-$(nproc)} timeout=${SLURM_START_TIMEOUT:-30} program host ctld_port d_port
  if [[ -n $slurm_dir ]]; then
    slurm_say "cannot start a cluster: one runs already in $slurm_dir"
    return 1
  fi
  if [[ ! $cpus =~ ^[1-9][0-9]*$ ]]; then
    slurm_say "cannot start a cluster of '$cpus' processors: not a positive number"
    return 1
  fi
  if [[ $(id -u) -ne 0 ]]; then
    slurm_say "cannot start a cluster: the daemons run as root, and this is uid $(id -u)"
    return 1
  fi
  for program in munged slurmctld slurmd sinfo sbatch; do
    command -v "$program" >/dev/null || [[ -x /usr/sbin/$program ]] || {
      slurm_say "cannot run $program: not found (scripts/setup.sh --farm installs it)"
      return 1
    }
  done
  host=$(uname -n | cut -d. -f1)
  ctld_port=$(slurm_free_port) && d_port=$(slurm_free_port "$ctld_port") || {
    slurm_say "cannot start a cluster: no free TCP port found"
    return 1
  }
  slurm_dir=$(mktemp -d /tmp/slurm.XXXXXX)
  mkdir -p "$slurm_dir"/{munge,state,spool,run,log}
  chmod 711 "$slurm_dir"
  # Clients need to reach the socket; the key itself stays private.
  chmod 711 "$slurm_dir/munge"
  slurm_write_conf "$cpus" "$host" "$ctld_port" "$d_port"
  export SLURM_CONF=$slurm_dir/slurm.conf
  head -c 1024 /dev/urandom >"$slurm_dir/munge/key"
  chmod 600 "$slurm_dir/munge/key"

  # Each daemon in the foreground of a background job, so that its process is
  # ours to stop, with its output in its own log (Slurm's daemons log to
  # standard error, and not to syslog, in the foreground without a log file)
  # and nothing of the caller's output held open.
  /usr/sbin/munged --foreground --force --socket="$slurm_dir/munge/socket" \
    --key-file="$slurm_dir/munge/key" --pid-file="$slurm_dir/run/munged.pid" \
    --log-file="$slurm_dir/log/munged.log" --seed-file="$slurm_dir/munge/seed" \
    </dev/null >>"$slurm_dir/log/munged.log" 2>&1 &
  slurm_munged_pid=$!
  if ! slurm_wait_for "munged" "$timeout" test -S "$slurm_dir/munge/socket"; then
    slurm_stop
    return 1
  fi
  /usr/sbin/slurmctld -D -i -f "$SLURM_CONF" </dev/null >>"$slurm_dir/log/slurmctld.log" 2>&1 &
  slurm_ctld_pid=$!
  /usr/sbin/slurmd -D -f "$SLURM_CONF" -N "$host" </dev/null >>"$slurm_dir/log/slurmd.log" 2>&1 &
  slurm_d_pid=$!
  if ! slurm_wait_for "the node" "$timeout" slurm_node_idle "$host"; then
    slurm_stop
    return 1
  fi
}

slurm_node_idle() {
  [[ $(sinfo --noheader --nodes="$1" --format=%t 2>/dev/null) == idle ]]
}

# Runs CHECK... every 0.1 s until it succeeds, up to S seconds; gives up early
# when a daemon it started has ended. On failure prints the logs and a line.
slurm_wait_for() {
  local what=$1 seconds=$2 i pid
  shift 2
  for ((i = 0; i < seconds * 10; i++)); do
    "$@" && return 0
    for pid in $slurm_munged_pid $slurm_ctld_pid $slurm_d_pid; do
      if ! kill -0 "$pid" 2>/dev/null; then
        slurm_show_logs
        slurm_say "cannot start a cluster: a daemon (pid $pid) ended while waiting for $what"
        return 1
      fi
    done
    sleep 0.1
  done
  slurm_show_logs
  slurm_say "cannot start a cluster: $what was not ready after $seconds s"
  return 1
}

slurm_job_state() {
  scontrol show job "$1" 2>/dev/null | sed -n 's/.*JobState=\([A-Z_]*\).*/\1/p' | sort -u | paste -sd,
}

slurm_wait_gone() {
  local tenths=$((${2:-60} * 10)) i live jobs=()
  [[ -z $1 ]] || jobs=(--jobs="$1")
  for ((i = 0; i < tenths; i++)); do
    # A failing squeue (the controller gone) is no answer: keep asking.
    if live=$(squeue --noheader "${jobs[@]}" --states=PENDING,RUNNING,COMPLETING,CONFIGURING,SUSPENDED \
      --format=%i 2>/dev/null) && [[ -z $live ]]; then
      return 0
    fi
    sleep 0.1
  done
  return 1
}

slurm_env() {
  [[ -n $slurm_dir ]] || return 1
  printf 'export SLURM_CONF=%q\n' "$slurm_dir/slurm.conf"
}

# Stops one process: TERM, then KILL after 10 s.
slurm_stop_process() {
  local pid=$1 i
  [[ -n $pid ]] || return 0
  kill "$pid" 2>/dev/null || return 0
  for ((i = 0; i < 100; i++)); do
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.1
  done
  kill -9 "$pid" 2>/dev/null || true
  wait "$pid" 2>/dev/null || true
}

slurm_stop() {
  [[ -n $slurm_dir ]] || return 0
  # The jobs' step daemons outlive slurmd: cancel the jobs while the
  # controller still runs, and give them a few seconds to end.
  if [[ -n $slurm_ctld_pid ]] && kill -0 "$slurm_ctld_pid" 2>/dev/null; then
    scancel --quiet --user=root 2>/dev/null || true
    slurm_wait_gone "" 10 || true
  fi
  slurm_stop_process "$slurm_d_pid"
  slurm_stop_process "$slurm_ctld_pid"
  slurm_stop_process "$slurm_munged_pid"
  rm -rf -- "$slurm_dir"
  if [[ ${SLURM_CONF:-} == "$slurm_dir/slurm.conf" ]]; then unset SLURM_CONF; fi
  slurm_dir=
  slurm_munged_pid=
  slurm_ctld_pid=
  slurm_d_pid=
}

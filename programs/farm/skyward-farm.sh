#!/usr/bin/env bash
# skyward-farm: renders the whole film as one
# video on many job slots at once, local cores or other machines, with GNU
# parallel. The film is cut into ranges of frames; each range is rendered by
# demo-capture --frames A-B into a video of its own, which starts with a key
# frame and is encoded so that the ranges join by stream copy. The ranges
# come back to a work folder beside the output, are joined by ffmpeg's concat
# demuxer under a temporary name, checked (frames, duration) and renamed to
# the output; then the work folder is removed.
#
# A range is written under its final name only when complete, and is checked
# again before it counts: a run that was stopped and is started again with the
# same settings renders only the ranges that are missing.
set -euo pipefail
program=${FARM_PROGRAM_NAME:-$(basename "$0" .sh)}

usage() {
  cat <<EOF
Usage: $program [options] OUTPUT.mp4
Renders the whole film into OUTPUT.mp4 as ranges of frames on many job slots
(GNU parallel), then joins the ranges without re-encoding and checks the result.

  --size WxH          image size (default 1920x1080; even numbers)
  --fps N             frame rate (default 60)
  --ranges N          cut the film into N ranges (default: 4 per job slot)
  -j, --jobs N        ranges rendered at once on each host (default: one per core)
  --sshlogin LOGIN    render on this host ([user@]host, or ':' for this machine);
                      may be given more than once (default: this machine only)
  --ssh COMMAND       the ssh command parallel uses (such as 'ssh -p 2222')
  --capture COMMAND   the command that runs the capture tool where a range is
                      rendered, followed there by its options (default:
                      \$SKYWARD_FARM_CAPTURE, else skyward-capture, the Debian
                      package's command); for a build folder:
                      --capture 'cd /path/to/build && ./demo-capture'
  --retries N         tries of a failing range before the run fails (default 3)
  --ffmpeg PATH       the ffmpeg that joins the ranges (default: ffmpeg)
  --ffprobe PATH      the ffprobe that checks them (default: ffprobe)
  --help              show this text

The ranges are kept in .skyward-farm/NAME beside OUTPUT until they are joined;
a remote host writes them under .skyward-farm/NAME in its login folder, and
parallel brings them back and removes them there. A host without an X display
renders through EGL, with no X server. A run started again with the same output
and settings renders only the ranges still missing.
EOF
}

# The progress line: ranges done, frames per second over all hosts (frames
# of ranges finished in this run), time left.
progress_pid=""
progress_open=""
end_progress() {
  if [[ -n $progress_pid ]]; then
    kill "$progress_pid" 2>/dev/null || true
    wait "$progress_pid" 2>/dev/null || true
    progress_pid=""
  fi
  if [[ -n $progress_open ]]; then printf '\n' >&2; fi
  progress_open=""
}
fail() {
  end_progress
  printf '%s: %s\n' "$program" "$1" >&2
  exit "${2:-1}"
}

# The film's length in seconds, as demo-capture counts its frames: every k
# >= 1 with k / fps <= 115.
film_length=115

size=1920x1080 fps=60 ranges="" jobs="" retries=3
ssh_command="" ffmpeg=ffmpeg ffprobe=ffprobe output=""
capture=${SKYWARD_FARM_CAPTURE:-skyward-capture}
logins=()
while (($#)); do
  option=$1
  case "$option" in
    --help | -h)
      usage
      exit 0
      ;;
    --size | --fps | --ranges | -j | --jobs | --sshlogin | -S | --ssh | --capture | --retries | \
      --ffmpeg | --ffprobe)
      (($# >= 2)) || fail "$option needs a value (see $program --help)" 2
      value=$2
      shift 2
      ;;
    --*=*)
      value=${option#*=}
      option=${option%%=*}
      shift
      ;;
    -*) fail "unknown option $option (see $program --help)" 2 ;;
    *)
      [[ -z $output ]] || fail "one output only: $output and $option (see $program --help)" 2
      output=$option
      shift
      continue
      ;;
  esac
  case "$option" in
    --size) size=$value ;;
    --fps) fps=$value ;;
    --ranges) ranges=$value ;;
    -j | --jobs) jobs=$value ;;
    --sshlogin | -S) logins+=("$value") ;;
    --ssh) ssh_command=$value ;;
    --capture) capture=$value ;;
    --retries) retries=$value ;;
    --ffmpeg) ffmpeg=$value ;;
    --ffprobe) ffprobe=$value ;;
    *) fail "unknown option $option (see $program --help)" 2 ;;
  esac
done

[[ -n $output ]] || fail "no output video given (see $program --help)" 2
[[ $size =~ ^([0-9]+)x([0-9]+)$ ]] || fail "--size: '$size' is not WxH" 2
((BASH_REMATCH[1] % 2 == 0 && BASH_REMATCH[2] % 2 == 0)) ||
  fail "--size: a video needs an even width and height" 2
if [[ ! $fps =~ ^[0-9]+([.][0-9]+)?$ ]] || ! awk -v f="$fps" 'BEGIN { exit !(f > 0) }'; then
  fail "--fps: '$fps' is not a positive number" 2
fi
for number in "$ranges" "$jobs" "$retries"; do
  [[ -z $number || $number =~ ^[1-9][0-9]*$ ]] ||
    fail "--ranges, --jobs and --retries take a whole number from 1, not '$number'" 2
done
command -v parallel >/dev/null || fail "cannot run parallel: not found (install the parallel package)"
command -v "$ffmpeg" >/dev/null || fail "cannot run $ffmpeg: not found (install the ffmpeg package)"
command -v "$ffprobe" >/dev/null || fail "cannot run $ffprobe: not found (install the ffmpeg package)"

# The output: only a regular file or nothing is replaced; the work folder and
# the joined file's temporary name are in its folder, so the last rename
# stays on one file system.
case "$output" in */) fail "cannot use $output: it names a folder, not a file" ;; esac
if [[ -e $output || -L $output ]] && [[ ! -f $output || -L $output ]]; then
  fail "cannot use $output: it is not a regular file"
fi
output_dir=$(dirname -- "$output")
output_name=$(basename -- "$output")
mkdir -p -- "$output_dir" 2>/dev/null || fail "cannot make the folder $output_dir"
output_dir=$(cd -- "$output_dir" && pwd)
work_relative=.skyward-farm/$output_name
work=$output_dir/$work_relative

frames=$(awk -v f="$fps" -v l="$film_length" 'BEGIN { printf "%d", int(l * f + 1e-6) }')
((frames >= 1)) || fail "--fps: $fps gives the film no frame" 2
# Without -j parallel runs one job per core on each host (100%); the default
# number of ranges counts this machine's cores for every host.
slots=${jobs:-$(nproc 2>/dev/null || echo 1)}
hosts=${#logins[@]}
((hosts > 0)) || logins=(:)
hosts=${#logins[@]}
if [[ -z $ranges ]]; then ranges=$((4 * slots * hosts)); fi
((ranges <= frames)) || ranges=$frames

# The settings the ranges in the work folder were made with: ranges of other
# settings are refused rather than joined or deleted.
settings="size=$size fps=$fps ranges=$ranges frames=$frames"
mkdir -p -- "$work" 2>/dev/null || fail "cannot make the folder $work"
if [[ -f $work/settings ]]; then
  [[ $(cat -- "$work/settings") == "$settings" ]] ||
    fail "cannot use $work: it holds ranges of another capture ($(cat -- "$work/settings")); remove it or give the same settings"
else
  printf '%s\n' "$settings" >"$work/settings" || fail "cannot write $work/settings"
fi

# Range i (0-based) holds the frames after floor(i * frames / ranges) up to
# floor((i + 1) * frames / ranges).
range_first() { echo $(($1 * frames / ranges + 1)); }
range_last() { echo $((($1 + 1) * frames / ranges)); }
range_name() { printf 'range-%06d-%06d.mp4' "$1" "$2"; }

# Whether a range's file is there whole: ffprobe reads it and finds one
# packet per frame.
range_complete() {
  local file=$1 expected=$2 packets
  [[ -f $file ]] || return 1
  packets=$("$ffprobe" -v error -select_streams v:0 -count_packets \
    -show_entries stream=nb_read_packets -of csv=p=0 -- "$file" 2>/dev/null) || return 1
  [[ $packets == "$expected" ]]
}

# What a stopped worker or transfer left: hidden partial files.
rm -f -- "$work"/.range-* "$work"/.*.partial-* 2>/dev/null || true
todo=$work/todo
: >"$todo"
already=0
missing_frames=0
for ((i = 0; i < ranges; i++)); do
  first=$(range_first $i)
  last=$(range_last $i)
  name=$(range_name "$first" "$last")
  if range_complete "$work/$name" $((last - first + 1)); then
    already=$((already + 1))
  else
    rm -f -- "$work/$name"
    echo "$first $last $name" >>"$todo"
    missing_frames=$((missing_frames + last - first + 1))
  fi
done
echo "$program: $frames frames of $size at $fps fps in $ranges ranges on ${logins[*]}" \
  "(${jobs:-one per core} at once each); $already ranges already rendered, $((ranges - already)) to render" >&2

# One range, where parallel runs it: renders frames $1 to $2 into
# $FARM_WORK/range-....mp4 under the folder it runs in (on a host without a
# display the capture tool renders through EGL, with no X server). On failure
# prints one line on stdout:
# "farm-failed FIRST-LAST on HOST: REASON".
farm_range() {
  local first=$1 last=$2 name=$3 slot=$4 log status host
  # The host as parallel names it; this machine by its name.
  host=${PARALLEL_SSHLOGIN:-:}
  if [[ $host == : ]]; then host="$(hostname) (local)"; fi
  mkdir -p -- "$FARM_WORK" || return 1
  log=$(mktemp "$FARM_WORK/.range-log.XXXXXX") || return 1
  local pin=""
  if [[ -n ${FARM_PIN:-} ]]; then pin="taskset -c $(((slot - 1) % $(nproc)))"; fi
  status=0
  # shellcheck disable=SC2086 # $pin is a command and its arguments, or nothing
  $pin bash -c "$FARM_CAPTURE"' "$@"' capture --frames "$first-$last" --size "$FARM_SIZE" \
    --fps "$FARM_FPS" --video "$PWD/$FARM_WORK/$name" </dev/null >"$log" 2>&1 || status=$?
  if ((status != 0)); then
    echo "farm-failed $first-$last on $host: $(tr '\r' '\n' <"$log" | grep -v '^ *$' | tail -n 1)"
  fi
  rm -f -- "$log"
  return $status
}
export -f farm_range
export FARM_PIN=${FARM_PIN:-} FARM_WORK=$work_relative FARM_SIZE=$size FARM_FPS=$fps FARM_CAPTURE=$capture

clock_text() {
  local s=$1
  if ((s >= 3600)); then
    printf '%d:%02d:%02d' $((s / 3600)) $((s / 60 % 60)) $((s % 60))
  else printf '%d:%02d' $((s / 60)) $((s % 60)); fi
}
show_progress() {
  local start=$1 done_ranges=0 done_frames=0 file first last now rate left
  for file in "$work"/range-*.mp4; do
    [[ -f $file ]] || continue
    done_ranges=$((done_ranges + 1))
    file=${file##*/range-}
    first=$((10#${file%%-*}))
    file=${file#*-}
    last=$((10#${file%.mp4}))
    done_frames=$((done_frames + last - first + 1))
  done
  done_frames=$((done_frames - (frames - missing_frames)))
  now=$(date +%s.%N)
  rate=$(awk -v d="$done_frames" -v t="$now" -v s="$start" 'BEGIN { printf "%.2f", (t > s ? d / (t - s) : 0) }')
  if awk -v r="$rate" 'BEGIN { exit !(r > 0) }'; then
    left=$(clock_text "$(awk -v r="$rate" -v m=$((missing_frames - done_frames)) 'BEGIN { printf "%d", m / r + 0.5 }')")
  else left="?"; fi
  printf '\r%s: %d/%d ranges  %d/%d frames  %s frames/s  %s left ' "$program" "$done_ranges" \
    "$ranges" $((done_frames + frames - missing_frames)) "$frames" "$rate" "$left" >&2
}

joined=""
parallel_pid=""
on_signal() {
  # A second signal while this cleans up must not cut it short.
  trap '' INT TERM HUP
  # parallel and its local jobs are one process group; remote jobs end with
  # their ssh sessions. Their partial files are removed by the next run.
  if [[ -n $parallel_pid ]]; then
    kill -TERM -- "-$parallel_pid" 2>/dev/null || true
    wait "$parallel_pid" 2>/dev/null || true
  fi
  [[ -z $joined ]] || rm -f -- "$joined"
  fail "interrupted by SIG$1; the ranges rendered so far are kept in $work for the next run" $((128 + $2))
}
trap 'on_signal INT 2' INT
trap 'on_signal TERM 15' TERM
trap 'on_signal HUP 1' HUP

start=$(date +%s.%N)
if [[ -s $todo ]]; then
  # shellcheck disable=SC2054 # --halt's value has a comma
  parallel_options=(--will-cite --colsep ' ' -j "${jobs:-100%}" --retries "$retries" --halt now,fail=1
    --joblog "$work/joblog" --env farm_range --env FARM_WORK --env FARM_SIZE --env FARM_FPS
    --env FARM_CAPTURE --env FARM_PIN --return "$work_relative/{3}" --cleanup)
  [[ -z $ssh_command ]] || parallel_options+=(--ssh "$ssh_command")
  for login in "${logins[@]}"; do parallel_options+=(--sshlogin "$login"); done
  # Its own process group, so that a stop reaches every local job.
  (cd "$output_dir" && exec setsid parallel "${parallel_options[@]}" \
    farm_range '{1}' '{2}' '{3}' '{%}' <"$todo" >"$work/jobs.log" 2>&1) &
  parallel_pid=$!
  if [[ -t 2 || -n ${FARM_PROGRESS:-} ]]; then
    (while :; do
      show_progress "$start"
      sleep 1
    done) &
    progress_pid=$!
    progress_open=1
  fi
  status=0
  wait "$parallel_pid" || status=$?
  parallel_pid=""
  end_progress
  show_progress "$start"
  printf '\n' >&2
  if ((status != 0)); then
    reason=$(grep -h '^farm-failed ' "$work/jobs.log" | tail -n 1 | sed 's/^farm-failed //' || true)
    if [[ -z $reason ]]; then
      # No worker spoke: the host could not be reached or could not run it;
      # the joblog names the range and host, ssh or the shell says why.
      reason=$(awk -F'\t' 'NR > 1 && $7 != 0 { split($9, c, " "); r = c[2] "-" c[3] " on " $2 }
        END { print r }' "$work/joblog" 2>/dev/null || true)
      said=$(grep -v -m 1 -e '^parallel:' -e '^farm_range ' -e '^rsync' -e '^ *$' \
        "$work/jobs.log" || true)
      reason="${reason:-? on ?}: ${said:-no reason given}"
    fi
    fail "cannot render frames $reason (after $retries tries; rendered ranges are kept in $work)"
  fi
fi

rendered=$(date +%s.%N)
# Every range must be there whole before the join.
list=$work/list.txt
: >"$list"
for ((i = 0; i < ranges; i++)); do
  first=$(range_first $i)
  last=$(range_last $i)
  name=$(range_name "$first" "$last")
  range_complete "$work/$name" $((last - first + 1)) ||
    fail "cannot use $work/$name: frames $first-$last are missing or incomplete after rendering"
  printf "file '%s'\n" "$name" >>"$list"
done

# The join: stream copy under a temporary name in the output's folder.
joined=$output_dir/.$output_name.partial-$$.mp4
if ! "$ffmpeg" -hide_banner -loglevel error -xerror -y -f concat -safe 0 -i "$list" -c copy \
  -movflags +faststart "$joined" 2>"$work/join.log"; then
  rm -f -- "$joined"
  fail "cannot join the ranges into $output: $(grep -v '^ *$' "$work/join.log" | tail -n 1)"
fi
# The check: ffprobe reads it, with one frame per frame of the film and the
# film's duration to within half a frame.
read -r packets duration < <("$ffprobe" -v error -select_streams v:0 -count_packets \
  -show_entries stream=nb_read_packets:format=duration -of default=nw=1:nk=1 -- "$joined" |
  tr '\n' ' ') || true
if [[ ${packets:-} != "$frames" ]] ||
  ! awk -v d="${duration:-x}" -v f="$frames" -v r="$fps" \
    'BEGIN { e = d - f / r; exit !(d ~ /^[0-9.]+$/ && e < 0.5 / r && -e < 0.5 / r) }'; then
  rm -f -- "$joined"
  fail "cannot use the joined video: ${packets:-no} frames and ${duration:-no} s instead of $frames frames and $(awk -v f="$frames" -v r="$fps" 'BEGIN { printf "%g", f / r }') s; $output not written"
fi
mv -f -- "$joined" "$output" || {
  rm -f -- "$joined"
  fail "cannot rename the joined video to $output"
}
joined=""
rm -rf -- "$work"
rmdir -- "$output_dir/.skyward-farm" 2>/dev/null || true
echo "$program: wrote $output ($frames frames, $duration s); rendering took" \
  "$(awk -v a="$start" -v b="$rendered" -v c="$(date +%s.%N)" \
    'BEGIN { printf "%.1f s, joining and checking %.1f s", b - a, c - b }')" >&2

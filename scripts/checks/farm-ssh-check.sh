#!/usr/bin/env bash
# The farm through a real ssh host: starts an ssh server of its own on
# 127.0.0.1 only (port $FARM_SSH_PORT, default 2222), with a throwaway host
# key and user key in a temporary folder, renders the film's ranges through it
# with programs/farm/skyward-farm.py (--sshlogin, --ssh), checks the joined
# video and that the host kept nothing, then kills a farm (SIGKILL) while the
# host renders and checks that its remote workers end too; stops the server
# and removes the folder at the end, however it ends.
# The "remote" host runs the build folder's demo-capture (--capture) under
# no X server at all (EGL), as a host without a display would.
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
build=${BUILD_DIR:-$root/build}
port=${FARM_SSH_PORT:-2222}
say() { echo "farm-ssh-check: $*" >&2; }

for program in /usr/sbin/sshd ssh ssh-keygen ffmpeg ffprobe; do
  command -v "$program" >/dev/null || {
    say "cannot run $program: not found (scripts/setup.sh installs it)"
    exit 1
  }
done
[[ -x $build/demo-capture ]] || {
  say "cannot use $build/demo-capture: not built"
  exit 1
}

folder=$(mktemp -d /tmp/farm-ssh.XXXXXX)
sshd_pid=""
stop() {
  if [[ -n $sshd_pid ]]; then
    kill "$sshd_pid" 2>/dev/null || true
    wait "$sshd_pid" 2>/dev/null || true
  fi
  rm -rf -- "$folder"
}
trap stop EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

ssh-keygen -q -t ed25519 -N '' -C farm-host -f "$folder/host_key"
ssh-keygen -q -t ed25519 -N '' -C farm-user -f "$folder/user_key"
cp "$folder/user_key.pub" "$folder/authorized_keys"
cat >"$folder/sshd_config" <<EOF
ListenAddress 127.0.0.1
Port $port
HostKey $folder/host_key
PidFile $folder/sshd.pid
AuthorizedKeysFile $folder/authorized_keys
PubkeyAuthentication yes
PasswordAuthentication no
KbdInteractiveAuthentication no
PermitRootLogin prohibit-password
UsePAM no
StrictModes no
EOF
# As root, sshd wants its privilege-separation folder.
if [[ $(id -u) -eq 0 ]]; then mkdir -p /run/sshd; fi
/usr/sbin/sshd -D -e -f "$folder/sshd_config" 2>"$folder/sshd.log" &
sshd_pid=$!

ssh_command="ssh -p $port -i $folder/user_key -o IdentitiesOnly=yes -o BatchMode=yes \
-o UserKnownHostsFile=$folder/known_hosts -o StrictHostKeyChecking=accept-new \
-o ConnectTimeout=5"
login=$(id -un)@127.0.0.1
for ((try = 0; ; try++)); do
  # shellcheck disable=SC2086 # the ssh command and its options
  if $ssh_command "$login" true 2>"$folder/ssh.log"; then break; fi
  if ((try >= 50)) || ! kill -0 "$sshd_pid" 2>/dev/null; then
    say "cannot log in to $login on port $port: $(tail -n 1 "$folder/ssh.log")" \
      "($(tail -n 1 "$folder/sshd.log"))"
    exit 1
  fi
  sleep 0.2
done
say "ssh server on 127.0.0.1:$port (pid $sshd_pid) accepts $login"

output=$folder/out/film.mp4
start=$SECONDS
# No display here: the host's ranges render through EGL, with no X server.
env -u DISPLAY "$root/programs/farm/skyward-farm.py" --sshlogin "$login" --ssh "$ssh_command" \
  --size 64x36 --fps 1 --ranges 3 -j 2 --capture "cd '$build' && ./demo-capture" "$output"
read -r frames duration < <(ffprobe -v error -count_frames -select_streams v:0 \
  -show_entries stream=nb_read_frames:format=duration -of default=nw=1:nk=1 "$output" |
  tr '\n' ' ') || true
if [[ ${frames:-} != 115 || -z ${duration:-} ]] || ! awk -v d="$duration" 'BEGIN { exit !(d > 114.99 && d < 115.01) }'; then
  say "the video made through $login has ${frames:-no} frames and ${duration:-no} s, not 115 and 115"
  exit 1
fi
# Every range came back over its connection; the host kept nothing.
left=$( (find "${TMPDIR:-/tmp}" -maxdepth 1 -name 'skyward-farm.*' 2>/dev/null || true) | wc -l)
if ((left != 0)); then
  say "$left temporary folders were left on the host in ${TMPDIR:-/tmp}"
  exit 1
fi
say "115 frames, 115 s, rendered through $login in $((SECONDS - start)) s"

# A farm killed outright (SIGKILL) while the host renders: its connections
# close, and the host's workers end with them.
env -u DISPLAY "$root/programs/farm/skyward-farm.py" --sshlogin "$login" --ssh "$ssh_command" \
  --size 64x36 --fps 1 --ranges 3 -j 2 --capture "cd '$build' && ./demo-capture" \
  "$folder/out/killed.mp4" 2>"$folder/killed.log" &
farm_pid=$!
for ((try = 0; try < 300; try++)); do
  pgrep -f "skyward-farm[.].*/range[.]mp4" >/dev/null && break
  sleep 0.1
done
pgrep -f "skyward-farm[.].*/range[.]mp4" >/dev/null || {
  say "the host never started rendering: $(tail -n 1 "$folder/killed.log")"
  exit 1
}
kill -KILL "$farm_pid"
wait "$farm_pid" 2>/dev/null || true
for ((try = 0; try < 100; try++)); do
  pgrep -f "skyward-farm[.].*/range[.]mp4" >/dev/null || break
  sleep 0.1
done
if pgrep -af "skyward-farm[.].*/range[.]mp4" >&2; then
  say "the host's workers outlived the farm killed with SIGKILL"
  exit 1
fi
say "a farm killed with SIGKILL left no worker on the host"

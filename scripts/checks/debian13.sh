#!/usr/bin/env bash
# The project on a clean Debian 13 ("trixie"), the current stable release, as
# a user of it gets it: a minimal Debian 13 system made with debootstrap from
# the mirror this machine's apt uses (its base kept in /var/cache/skyward/
# and copied afresh for each run; the packages it downloads kept beside it),
# the working tree copied in (tracked and new files, no build folders) with
# the Debian package from dist/ (or $DIST_DIR), and inside it, as root:
#   scripts/checks/package-names.sh   every package setup.sh names exists there
#   scripts/test.sh                   install, build, every test
#   scripts/checks/deb-check.sh       the package installed and played there
# The package is the one scripts/package.sh built on Debian 12, the older
# release: what it depends on (the libraries' names and least versions on
# Debian 12) Debian 13 has too, so one package serves both.
# Where the caller builds through ccache (CMAKE_CXX_COMPILER_LAUNCHER=ccache,
# as CI does), so does the build inside, with a cache of its own kept in
# /var/cache/skyward/trixie/ccache (Debian 13's compiler is another one).
# Every mount is undone and the system removed whatever happens; the run is
# stopped after $DEBIAN13_LIMIT seconds (default 1800). Needs root.
#   usage: scripts/checks/debian13.sh [COMMAND]   (COMMAND replaces the steps
#          above; the package, if there is one, is copied in all the same)
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
limit=${DEBIAN13_LIMIT:-1800}
dist=${DIST_DIR:-$root/dist}
suite=trixie
cache=/var/cache/skyward/$suite
command=${1:-bash scripts/checks/package-names.sh && bash scripts/test.sh &&
bash scripts/setup.sh --deb && bash scripts/checks/deb-check.sh}
fail() {
  echo "debian13: cannot $*" >&2
  exit 1
}
package=$(ls "$dist"/skyward_*_amd64.deb 2>/dev/null | tail -n 1) || package=""
if [[ -z $package ]] && (($# == 0)); then
  fail "check the Debian package on Debian 13: none in $dist (run scripts/package.sh first)"
fi
(($(id -u) == 0)) || fail "make a Debian 13 system: only root can (debootstrap, chroot, mount)"
"$root/scripts/setup.sh" --debian13

# The mirror is the one this machine's apt already uses.
mirror=$(awk '/^URIs:/ {print $2; exit}' /etc/apt/sources.list.d/*.sources 2>/dev/null) || true
[[ -n $mirror ]] || mirror=$(awk '/^deb / {print $2; exit}' /etc/apt/sources.list 2>/dev/null) || true
[[ -n $mirror ]] || fail "make a Debian 13 system: this machine's apt names no mirror"
start=$SECONDS
if [[ ! -x $cache/base/bin/bash ]]; then
  # Made aside and moved in whole, so that an interrupted run leaves no half base.
  rm -rf "$cache/base.new"
  mkdir -p "$cache"
  timeout "$limit" debootstrap --variant=minbase "$suite" "$cache/base.new" "$mirror" >"$cache/debootstrap.log" 2>&1 ||
    {
      rm -rf "$cache/base.new"
      fail "make a Debian 13 system with debootstrap: $(tail -n 1 "$cache/debootstrap.log")"
    }
  mv "$cache/base.new" "$cache/base"
  echo "debian13: made the Debian 13 base in $((SECONDS - start)) s"
fi
mkdir -p "$cache/archives/partial"

system=$(mktemp -d /tmp/skyward-debian13.XXXXXX)
mounts=(proc sys dev dev/pts var/cache/apt/archives)
inside_env=()
if [[ ${CMAKE_CXX_COMPILER_LAUNCHER:-} == ccache ]]; then
  mkdir -p "$cache/ccache"
  mounts+=(var/cache/ccache)
  inside_env=(CMAKE_C_COMPILER_LAUNCHER=ccache CMAKE_CXX_COMPILER_LAUNCHER=ccache CCACHE_DIR=/var/cache/ccache
    CCACHE_MAXSIZE=4G)
fi
cleanup() {
  # Whatever still runs inside (a test the time limit cut short) is ended,
  # process by process, then the mounts are undone, innermost first.
  local process
  for process in /proc/[0-9]*; do
    if [[ $(readlink "$process/root" 2>/dev/null) == "$system" ]]; then
      kill -KILL "${process#/proc/}" 2>/dev/null || true
    fi
  done
  local i
  for ((i = ${#mounts[@]} - 1; i >= 0; i--)); do
    mountpoint -q "$system/${mounts[i]}" && { umount "$system/${mounts[i]}" || umount -l "$system/${mounts[i]}"; }
  done
  if grep -q " $system/" /proc/mounts; then
    echo "debian13: cannot remove $system: something is still mounted in it" >&2
  else
    rm -rf "$system"
  fi
}
trap cleanup EXIT
cp -a "$cache/base/." "$system/"
mkdir -p "$system/src/project"
(cd "$root" && git ls-files -z --cached --others --exclude-standard | xargs -0 -r stat --printf '%n\0' 2>/dev/null |
  tar -c --null -T - -f -) | tar -x -C "$system/src/project" || fail "copy the working tree into $system"
if [[ -n $package ]]; then
  mkdir -p "$system/src/project/dist"
  cp "$package" "$system/src/project/dist/"
fi
for mount in "${mounts[@]}"; do
  if [[ $mount == var/cache/apt/archives ]]; then
    mount --bind "$cache/archives" "$system/$mount"
  elif [[ $mount == var/cache/ccache ]]; then
    mkdir -p "$system/$mount"
    mount --bind "$cache/ccache" "$system/$mount"
  else
    mount --bind "/$mount" "$system/$mount"
  fi
done
cp /etc/resolv.conf "$system/etc/resolv.conf"
# The machine's certificate bundle, so that package clients inside trust what
# the machine trusts.
if [[ -f /etc/ssl/certs/ca-certificates.crt ]]; then
  mkdir -p "$system/etc/ssl" && cp /etc/ssl/certs/ca-certificates.crt "$system/etc/ssl/host-ca.crt"
fi
# A runtime folder, as a desktop session has: without one, Debian 13's GLFW
# (3.4, which looks for a Wayland compositor before X) has the Wayland library
# complain on stderr.
install -d -m 700 "$system/run/user/0"
echo "debian13: Debian 13 at $system, running: $command" >&2
status=0
run_start=$SECONDS
timeout --kill-after=30 "$limit" chroot "$system" /usr/bin/env -i HOME=/root \
  PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin TERM="${TERM:-dumb}" CI=true XDG_RUNTIME_DIR=/run/user/0 \
  NODE_EXTRA_CA_CERTS=/etc/ssl/host-ca.crt "${inside_env[@]}" /bin/bash -c "set -euo pipefail; cd /src/project; $command" ||
  status=$?
# Judged by the clock too: what the time limit ends may report another status.
if ((status == 124 || status == 137 || (status != 0 && SECONDS - run_start >= limit))); then
  fail "finish on Debian 13: stopped after $limit s"
fi
((status == 0)) || fail "pass on Debian 13: the run ended with status $status"
echo "debian13: passed on Debian 13 in $((SECONDS - start)) s"

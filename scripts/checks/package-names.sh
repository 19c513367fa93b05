#!/usr/bin/env bash
# Checks that every package scripts/setup.sh names, alone and with each of its
# flags, is one this system's apt can install: the names differ between
# Debian releases, and setup.sh picks them per release. A flag that setup.sh
# refuses on this release (it says why) is reported and skipped. Needs the
# package lists (apt-get update) to be current.
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
# shellcheck source=/dev/null # the release's own
release=$(. /etc/os-release 2>/dev/null && echo "${PRETTY_NAME:-}") || release="this system"
why=$(mktemp)
trap 'rm -f "$why"' EXIT
declare -A named_by
for flag in "" --deb --windows --web --farm --debian13 --checks; do
  # shellcheck disable=SC2086 # no flag is no word
  if ! names=$("$root/scripts/setup.sh" --list $flag 2>"$why"); then
    echo "package-names: setup.sh $flag is refused on $release: $(tail -n 1 "$why")" >&2
    continue
  fi
  for name in $names; do
    [[ -n ${named_by[$name]:-} ]] || named_by[$name]=${flag:-without a flag}
  done
done
# One query for all: apt-cache policy lists each known name with its
# candidate, "(none)" for a name nothing provides as a real package.
installable=$(apt-cache policy "${!named_by[@]}" 2>/dev/null |
  awk '/^[^ ]/ {name = $1; sub(/:$/, "", name)} /^  Candidate:/ && $2 != "(none)" {print name}')
status=0
for name in "${!named_by[@]}"; do
  if ! grep -qxF "$name" <<<"$installable"; then
    echo "package-names: cannot install $name (setup.sh ${named_by[$name]}): $release has no such package" >&2
    status=1
  fi
done
((status == 0)) || exit 1
echo "package-names: the ${#named_by[@]} packages setup.sh names are all in $release"

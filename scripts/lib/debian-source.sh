#!/usr/bin/env bash
# Unpacks the Debian source of a package into a folder, without touching the
# machine's own package setup: a private source list, made from the archives
# the machine is already configured with (with "deb-src" added), and a private
# state and cache folder next to the result.
#   scripts/lib/debian-source.sh PACKAGE[/SUITE] DEST
# SUITE picks the release's own version when a newer update offers no source.
# Leaves DEST/PACKAGE-VERSION/ (the unpacked tree) and prints its path. Does
# nothing but print the path when that tree is already there.
set -euo pipefail
package=${1:?usage: debian-source.sh PACKAGE DEST}
dest=${2:?usage: debian-source.sh PACKAGE DEST}
name=${package%%/*}
mkdir -p "$dest"
dest=$(cd "$dest" && pwd)

existing=$(find "$dest" -mindepth 1 -maxdepth 1 -type d -name "$name-[0-9]*" | head -n1)
if [[ -n $existing ]]; then
  echo "$existing"
  exit 0
fi

apt_dir=$dest/.apt
mkdir -p "$apt_dir/lists/partial" "$apt_dir/cache/archives/partial" "$apt_dir/sources.list.d"

# The configured archives, one-line and deb822 forms alike, as deb-src lines.
sources=$apt_dir/sources.list
: >"$sources"
for file in /etc/apt/sources.list /etc/apt/sources.list.d/*.list; do
  [[ -f $file ]] || continue
  sed -n 's/^[[:space:]]*deb[[:space:]]\+/deb-src /p' "$file" >>"$sources"
done
for file in /etc/apt/sources.list.d/*.sources; do
  [[ -f $file ]] || continue
  awk '
    function flush() {
      if (types ~ /(^| )deb( |$)/ && uris != "" && suites != "") {
        n = split(uris, u, " "); m = split(suites, s, " ")
        for (i = 1; i <= n; i++) for (j = 1; j <= m; j++)
          printf "deb-src %s%s %s %s\n", (signed != "" ? "[signed-by=" signed "] " : ""), u[i], s[j], components
      }
      types = uris = suites = components = signed = ""
    }
    /^[[:space:]]*$/ { flush(); next }
    /^#/ { next }
    /^Types:/ { sub(/^Types:[[:space:]]*/, ""); types = $0 }
    /^URIs:/ { sub(/^URIs:[[:space:]]*/, ""); uris = $0 }
    /^Suites:/ { sub(/^Suites:[[:space:]]*/, ""); suites = $0 }
    /^Components:/ { sub(/^Components:[[:space:]]*/, ""); components = $0 }
    /^Signed-By:/ { sub(/^Signed-By:[[:space:]]*/, ""); signed = $0 }
    END { flush() }
  ' "$file" >>"$sources"
done
if [[ ! -s $sources ]]; then
  echo "fetch-debian-source: cannot use /etc/apt: no configured archive to take sources from" >&2
  exit 1
fi

apt_options=(
  -o "Dir::Etc::SourceList=$sources"
  -o "Dir::Etc::SourceParts=$apt_dir/sources.list.d"
  -o "Dir::State=$apt_dir"
  -o "Dir::State::Lists=$apt_dir/lists"
  -o "Dir::State::status=/var/lib/dpkg/status"
  -o "Dir::Cache=$apt_dir/cache"
  -o "Debug::NoLocking=1"
  -o "APT::Sandbox::User=root"
)
command -v dpkg-source >/dev/null || {
  echo "fetch-debian-source: cannot use dpkg-source: install dpkg-dev" >&2
  exit 1
}
apt-get "${apt_options[@]}" -qq update
(cd "$dest" && apt-get "${apt_options[@]}" -qq source "$package" >/dev/null)
find "$dest" -mindepth 1 -maxdepth 1 -type d -name "$name-[0-9]*" | head -n1

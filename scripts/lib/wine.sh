# wine.sh: Wine for the scripts that run the Windows package (its check and
# the exit benchmark). Sourcing it sets Wine's environment: the prefix kept
# outside the clone ($WINEPREFIX, default ~/.cache/skyward/wine), no debug
# channels, no .NET or HTML engine, and a UTF-8 locale (under an ASCII one,
# as on a bare machine, Wine cannot make a file whose name is beyond ASCII,
# which the viewer's test and the Windows faults make). Then:
#   windows_package DIST WORK   unpacks the newest Windows zip of the folder
#                               DIST into the folder WORK and prints the
#                               unpacked package's folder; fails with a line
#                               when there is none (run scripts/package.sh)
wine_cache_root=${SKYWARD_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/skyward}
export WINEPREFIX=${WINEPREFIX:-$wine_cache_root/wine} WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES="mscoree,mshtml=" LC_ALL=C.UTF-8

windows_package() {
  local dist=$1 work=$2 zip
  zip=$(ls "$dist"/skyward-*-windows-x64.zip 2>/dev/null | tail -n 1) || true
  if [[ -z $zip ]]; then
    echo "wine: no Windows package in $dist: run scripts/package.sh first" >&2
    return 1
  fi
  unzip -q "$zip" -d "$work/unpacked" || return 1
  ls -d "$work"/unpacked/*/ | head -n 1
}

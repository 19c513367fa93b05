#!/bin/sh
# skyward-capture: the film's capture tool, run from any folder. The tool
# reads the film's assets from the working directory, so this changes to the
# asset folder first, after making the paths the user gave (--out, --png,
# --video, --ffmpeg) absolute, so they mean what they meant where the user was.
# Usage: skyward-capture [options]   (skyward-capture --help)
set -e
here=$(pwd)
absolute() {
  case "$1" in
    /*) printf '%s\n' "$1" ;;
    *) printf '%s/%s\n' "$here" "$1" ;;
  esac
}
count=$#
while [ "$count" -gt 0 ]; do
  argument=$1
  shift
  count=$((count - 1))
  case "$argument" in
    --out | --png | --video)
      set -- "$@" "$argument"
      if [ "$count" -gt 0 ]; then
        set -- "$@" "$(absolute "$1")"
        shift
        count=$((count - 1))
      fi
      ;;
    --out=* | --png=* | --video=*)
      set -- "$@" "${argument%%=*}=$(absolute "${argument#*=}")"
      ;;
    *) set -- "$@" "$argument" ;;
  esac
done
cd @ASSET_DIR@
exec @PROGRAM_DIR@/demo-capture "$@"

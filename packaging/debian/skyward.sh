#!/bin/sh
# skyward: plays the film full screen. The players read their assets from the
# working directory, so this changes to the asset folder first; they take no
# arguments, so the help is this command's own.
# Usage: skyward [1080|720]   (default 1080; skyward --help)
set -e
case "${1:-1080}" in
  720 | 1080) size=${1:-1080} ;;
  -h | --help)
    cat <<'HELP'
Usage: skyward [1080|720]
Plays skyward, a 115-second real-time computer-graphics film, full screen: a
spaceship over procedurally generated terrain under a procedurally generated
sky, computed frame by frame with OpenGL. There is no sound.

  1080      play it at 1920 x 1080 (the default)
  720       play it at 1280 x 720
  --help    show this text

A two-second loading bar comes first, a two-second unloading bar last.

Keys:
  Escape    end the film early (the unloading bar still runs; so does closing
            the window)

It needs a graphics driver with OpenGL 2.1 and framebuffer objects; if the film
cannot start, one line on the standard error says why and the status is 1.
skyward-capture renders stills, videos and benchmarks of the film;
skyward-view plays it in a window with keys to pause, seek and step.
HELP
    exit 0
    ;;
  *)
    echo "skyward: unknown size '$1' (use 720 or 1080; see skyward --help)" >&2
    exit 2
    ;;
esac
if [ $# -gt 1 ]; then
  echo "skyward: one size at most (see skyward --help)" >&2
  exit 2
fi
cd @ASSET_DIR@
exec @PROGRAM_DIR@/demo"$size"

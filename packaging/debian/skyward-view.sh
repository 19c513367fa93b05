#!/bin/sh
# skyward-view: the film's viewer, run from any folder. The viewer reads the
# film's assets from SKYWARD_ASSET_DIR, after making its shader folder and the
# folder it saves stills into (the one it was started in) absolute, and says
# SKYWARD_COMMAND for its name in its help and messages.
# Usage: skyward-view [options]   (skyward-view --help)
SKYWARD_COMMAND=skyward-view
SKYWARD_ASSET_DIR=@ASSET_DIR@
export SKYWARD_COMMAND SKYWARD_ASSET_DIR
exec @PROGRAM_DIR@/demo-view "$@"

#!/bin/sh
# skyward-capture: the film's capture tool, run from any folder. The tool
# reads the film's assets from SKYWARD_ASSET_DIR, after making the paths it
# is given (and its default output folder) absolute where the user is, and
# says SKYWARD_COMMAND for its name in its help and messages.
# Usage: skyward-capture [options]   (skyward-capture --help)
SKYWARD_COMMAND=skyward-capture
SKYWARD_ASSET_DIR=@ASSET_DIR@
export SKYWARD_COMMAND SKYWARD_ASSET_DIR
exec @PROGRAM_DIR@/demo-capture "$@"

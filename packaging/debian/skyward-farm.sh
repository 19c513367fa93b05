#!/bin/sh
# skyward-farm: the film rendered to one video by many job slots at once,
# local cores or other machines (GNU parallel), each range by skyward-capture.
# Usage: skyward-farm [options] OUTPUT.mp4   (skyward-farm --help)
FARM_PROGRAM_NAME=skyward-farm
export FARM_PROGRAM_NAME
exec @PROGRAM_DIR@/skyward-farm.sh "$@"

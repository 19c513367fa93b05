#!/bin/sh
# skyward-farm: the film rendered to one video by many job slots at once,
# local cores, other machines through ssh or a Slurm cluster, each range by
# skyward-capture (a Python 3 program beside the package's programs).
# Usage: skyward-farm [options] OUTPUT.mp4   (skyward-farm --help)
FARM_PROGRAM_NAME=skyward-farm
export FARM_PROGRAM_NAME
exec /usr/bin/python3 @PROGRAM_DIR@/skyward-farm.py "$@"

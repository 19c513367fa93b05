#!/usr/bin/env bash
# Installs every Debian 12 package the film, its tools and its tests need.
# Safe to run again; installs only what is missing. Flags add the packages of
# one more part each, and combine:
#   --checks    sanitizer, fuzzing and static-analysis tools (clang 14, ...)
#   --windows   the Windows cross build, Wine to run it, the packages' tools
#   --web       the web build: Emscripten, Chromium, Node.js with npm
#   --farm      Slurm (munge, slurmctld, slurmd, slurm-client) for the farm's
#               private one-node cluster (scripts/lib/slurm.sh)
set -euo pipefail

packages=(
  build-essential cmake pkg-config
  libglfw3-dev libglew-dev libassimp-dev libstb-dev
  libgl1-mesa-dri libglu1-mesa-dev mesa-utils libegl-dev
  mesa-vulkan-drivers glslang-tools
  libfreetype-dev fonts-dejavu-core
  libgtest-dev libbenchmark-dev libcli11-dev
  xvfb xauth xdotool x11-utils
  # A Wayland compositor (headless, GL renderer) for the Wayland check.
  weston
  ffmpeg
  # The capture farm (Python 3, standard library only), and an ssh server and
  # client for its check through a loopback host.
  python3 openssh-client openssh-server
)
for flag in "$@"; do
  case $flag in
    --checks) packages+=(clang-14 libclang-rt-14-dev clang-tidy-14 cppcheck) ;;
    # CPack's Debian generator runs `file` on each program; icoutils reads
    # the Windows programs' resources back (scripts/windows/check.sh).
    # The Debian package's manual pages (help2man) and its checks
    # (scripts/checks/deb-check.sh) come with the packages, which package.sh makes.
    --windows)
      packages+=(g++-mingw-w64-x86-64 libz-mingw-w64-dev dpkg-dev libutfcpp-dev wine wine64 zip unzip
        file icoutils help2man lintian desktop-file-utils appstream man-db)
      ;;
    # The model importer's headers and the tools that unpack Debian sources,
    # the browser and Node.js; npm only where no npm is installed (a Node.js
    # from elsewhere brings its own, and Debian's would conflict with it).
    --web)
      packages+=(emscripten libutfcpp-dev dpkg-dev python3 chromium)
      command -v node >/dev/null || packages+=(nodejs)
      command -v npm >/dev/null || packages+=(npm)
      ;;
    # The farm's Slurm queue and its check: the daemons run from a folder of
    # their own (scripts/lib/slurm.sh), not as the system's services.
    --farm) packages+=(munge slurmctld slurmd slurm-client) ;;
    *)
      echo "setup: unknown flag '$flag' (use --checks, --windows, --web, --farm)" >&2
      exit 2
      ;;
  esac
done

missing=()
for package in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$package")
  fi
done

if ((${#missing[@]})); then
  echo "setup: installing ${missing[*]}" >&2
  sudo=""
  if [[ $(id -u) -ne 0 ]]; then sudo="sudo"; fi
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get -o DPkg::Lock::Timeout=600 install -y -qq \
    --no-install-recommends "${missing[@]}"
fi

#!/usr/bin/env bash
# Installs every Debian 12 package the film, its tools and its tests need.
# Safe to run again; installs only what is missing.
set -euo pipefail

packages=(
  build-essential cmake pkg-config
  libglfw3-dev libglew-dev libassimp-dev libstb-dev
  libgl1-mesa-dri libglu1-mesa-dev mesa-utils
  libfreetype-dev fonts-dejavu-core
  libgtest-dev libbenchmark-dev libcli11-dev
  xvfb xauth xdotool x11-utils
  ffmpeg
)
# Sanitizer, fuzzing and static-analysis tools: only with --checks (CI).
if [[ ${1:-} == --checks ]]; then packages+=(clang-14 libclang-rt-14-dev clang-tidy-14 cppcheck); fi
# The Windows cross build, its dependencies' sources, Wine to run it, the
# packages (CPack's Debian generator runs `file` on each program) and the
# reader of Windows programs' resources (icoutils): only with --windows.
if [[ ${1:-} == --windows ]]; then
  packages+=(g++-mingw-w64-x86-64 libz-mingw-w64-dev dpkg-dev libutfcpp-dev libcli11-dev wine wine64
    xvfb xauth xdotool zip unzip file icoutils)
fi

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
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

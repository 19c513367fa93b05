#!/usr/bin/env bash
# Installs every package the film, its tools and its tests need, on Debian 12
# ("bookworm") or Debian 13 ("trixie"): the release is read from
# /etc/os-release, and the few names that differ between the two are picked
# for it. Safe to run again; installs only what is missing. Flags add the
# packages of one more part each, and combine:
#   --checks    sanitizer, fuzzing and static-analysis tools (clang 14, ...;
#               Debian 12 only: Debian 13 has no clang 14)
#   --deb       the Debian package's tools and its checks (scripts/package.sh --deb)
#   --windows   the Windows cross build, Wine to run it, the packages' tools
#   --web       the web build: Emscripten, Chromium, Node.js with npm
#   --farm      Slurm (munge, slurmctld, slurmd, slurm-client) for the farm's
#               private one-node cluster (scripts/lib/slurm.sh)
#   --debian13  debootstrap, which makes the Debian 13 system that
#               scripts/checks/debian13.sh runs the tests in
#   --list      prints the packages (one a line) instead of installing them
set -euo pipefail

# shellcheck source=/dev/null # the release's own
release=$(. /etc/os-release 2>/dev/null && echo "${VERSION_CODENAME:-}") || release=""
case $release in
  bookworm | trixie) ;;
  *) echo "setup: '${release:-an unknown system}' is neither Debian 12 nor 13: trying Debian 12's names" >&2 ;;
esac

packages=(
  build-essential cmake pkg-config
  # A compiler cache, used where CMAKE_CXX_COMPILER_LAUNCHER names it (CI does).
  ccache
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
# CPack's Debian generator runs `file` on each program; help2man writes the
# manual pages; the Debian package's checks (scripts/checks/deb-check.sh)
# run lintian, the menu entries' and metadata's validators and man.
deb_packages=(dpkg-dev file help2man lintian desktop-file-utils appstream man-db)
list=false
for flag in "$@"; do
  case $flag in
    --checks)
      if [[ $release == trixie ]]; then
        echo "setup: cannot install the checks' tools on Debian 13: they are clang 14's, which it does not have" >&2
        exit 2
      fi
      packages+=(clang-14 libclang-rt-14-dev clang-tidy-14 cppcheck)
      ;;
    --deb) packages+=("${deb_packages[@]}") ;;
    # icoutils reads the Windows programs' resources back
    # (scripts/windows/check.sh); package.sh makes the Debian package too.
    --windows)
      packages+=(g++-mingw-w64-x86-64 libz-mingw-w64-dev libutfcpp-dev wine wine64 zip unzip icoutils
        "${deb_packages[@]}")
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
    --debian13) packages+=(debootstrap) ;;
    --list) list=true ;;
    *)
      echo "setup: unknown flag '$flag' (use --checks, --deb, --windows, --web, --farm, --debian13, --list)" >&2
      exit 2
      ;;
  esac
done
if $list; then
  printf '%s\n' "${packages[@]}"
  exit 0
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
  DEBIAN_FRONTEND=noninteractive $sudo apt-get -o DPkg::Lock::Timeout=600 install -y -qq \
    --no-install-recommends "${missing[@]}"
fi

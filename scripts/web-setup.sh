#!/usr/bin/env bash
# Installs the Debian 12 packages the web build and its browser test need:
# Emscripten, the headers the model importer's source wants, the tools that
# unpack Debian sources, Chromium and Node.js with npm. Safe to run again.
set -euo pipefail
packages=(emscripten libutfcpp-dev libstb-dev dpkg-dev cmake python3 chromium nodejs xvfb xauth)
# npm only where no npm is installed (a Node.js from elsewhere brings its own).
command -v npm >/dev/null || packages+=(npm)
missing=()
for package in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$package")
  fi
done
# A Node.js installed from elsewhere counts as Node.js.
if command -v node >/dev/null; then
  for i in "${!missing[@]}"; do [[ ${missing[$i]} == nodejs ]] && unset 'missing[i]'; done
fi
if ((${#missing[@]})); then
  echo "web-setup: installing ${missing[*]}" >&2
  sudo=""
  if [[ $(id -u) -ne 0 ]]; then sudo="sudo"; fi
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

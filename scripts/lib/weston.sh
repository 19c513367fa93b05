# shellcheck shell=bash
# weston.sh: a private Wayland compositor for the scripts that play the film
# on Wayland. Source it, then:
#   weston_start [WxH] [x11]
#                       starts weston with one output of that size (default
#                       1280x720), in a runtime folder of its own, with --debug
#                       (which offers the screenshooter): its headless back-end
#                       with its GL renderer, or with x11 its X11 back-end (a
#                       window on $DISPLAY, GL); waits up to 10 s for its
#                       socket and sets weston_env (env ... to run a client on
#                       it: with no X display for the headless one, with
#                       $DISPLAY kept beside it, as on a desktop, for x11);
#                       fails with a line on stderr
#   weston_stop         stops it and removes its folder (call it from the
#                       script's EXIT trap; safe when none runs)
#   weston_shoot FILE   a screenshot of the output into FILE (PNG), within 10 s
#   wayland_glfw BUILD  prints the folder of Debian 12's Wayland build of GLFW
#                       3.3 (libglfw3-wayland), fetched with apt-get download
#                       and unpacked into BUILD/wayland-glfw once: it is never
#                       installed, as it would replace the X11 build
#   trixie_glfw BUILD   prints the folder of Debian 13's GLFW 3.4 (libglfw3,
#                       both back-ends), fetched through an apt configuration
#                       of its own for Debian 13 from the system's Debian
#                       source, unpacked into BUILD/trixie-glfw once, with
#                       Debian 12's decoration plugin for it (libdecor's cairo
#                       plugin, as a desktop has one; LIBDECOR_PLUGIN_DIR)
# It stops weston with the Xvfb helper's stop_child, which it sources.
# shellcheck source=scripts/lib/xvfb.sh
source "$(dirname "${BASH_SOURCE[0]}")/xvfb.sh"
weston_pid=
weston_dir=
weston_env=()

weston_start() {
  local size=${1:-1280x720} backend=(--backend=headless-backend.so --use-gl)
  [[ ${2:-} != x11 ]] || backend=(--backend=x11-backend.so)
  if ! command -v weston >/dev/null || ! command -v weston-screenshooter >/dev/null; then
    echo "weston: weston is not installed (scripts/setup.sh installs it)" >&2
    return 1
  fi
  weston_dir=$(mktemp -d)
  mkdir -m 700 "$weston_dir/runtime"
  XDG_RUNTIME_DIR=$weston_dir/runtime weston "${backend[@]}" --socket=wayland-film --width="${size%x*}" --height="${size#*x}" --idle-time=0 --debug \
    >"$weston_dir/log" 2>&1 &
  weston_pid=$!
  local _
  for _ in $(seq 100); do
    [[ -S $weston_dir/runtime/wayland-film ]] && break
    kill -0 "$weston_pid" 2>/dev/null || break
    sleep 0.1
  done
  if [[ ! -S $weston_dir/runtime/wayland-film ]]; then
    echo "weston: weston did not start: $(tail -n 1 "$weston_dir/log")" >&2
    weston_stop
    return 1
  fi
  weston_env=(env XDG_RUNTIME_DIR="$weston_dir/runtime" WAYLAND_DISPLAY=wayland-film)
  [[ ${2:-} == x11 ]] || weston_env=(env -u DISPLAY "${weston_env[@]:1}")
}

weston_stop() {
  stop_child "$weston_pid"
  [[ -z $weston_dir ]] || rm -rf "$weston_dir"
  weston_pid=
  weston_dir=
  weston_env=()
}

weston_shoot() {
  local shots=$weston_dir/shots
  rm -rf "$shots"
  mkdir "$shots"
  (cd "$shots" && "${weston_env[@]}" timeout 10 weston-screenshooter >/dev/null 2>&1) || return 1
  local shot
  for shot in "$shots"/*.png; do
    [[ -f $shot ]] && mv "$shot" "$1" && return 0
  done
  return 1
}

wayland_glfw() {
  local glfw=$1/wayland-glfw fetch
  if [[ ! -e $glfw/usr/lib/x86_64-linux-gnu/libglfw.so.3 ]]; then
    fetch=$(mktemp -d)
    if ! fetch_deb libglfw3-wayland "$fetch"; then
      rm -rf "$fetch"
      return 1
    fi
    rm -rf "$glfw"
    dpkg -x "$fetch"/libglfw3-wayland_*.deb "$glfw"
    rm -rf "$fetch"
  fi
  echo "$glfw/usr/lib/x86_64-linux-gnu"
}

# Fetches PACKAGE with apt-get download into FOLDER, with extra apt options.
fetch_deb() {
  local package=$1 folder=$2
  shift 2
  (cd "$folder" && apt-get "$@" download "$package" >/dev/null 2>&1) || {
    echo "weston: cannot fetch $package with apt-get download" >&2
    return 1
  }
}

trixie_glfw() {
  local glfw=$1/trixie-glfw apt uri
  if [[ ! -e $glfw/usr/lib/x86_64-linux-gnu/libglfw.so.3 ]]; then
    apt=$(mktemp -d)
    mkdir -p "$apt/sources.d" "$apt/lists/partial" "$apt/cache/archives/partial"
    uri=$(awk '/^URIs:/ { print $2; exit }' /etc/apt/sources.list.d/debian.sources 2>/dev/null)
    [[ -n $uri ]] || uri=$(awk '$1 == "deb" { print $2; exit }' /etc/apt/sources.list 2>/dev/null)
    printf 'Types: deb\nURIs: %s\nSuites: trixie\nComponents: main\nSigned-By: %s\n' "$uri" \
      /usr/share/keyrings/debian-archive-keyring.gpg >"$apt/sources.d/trixie.sources"
    local options=(-o Dir::Etc::SourceList=/dev/null -o Dir::Etc::SourceParts="$apt/sources.d"
      -o Dir::State::Lists="$apt/lists" -o Dir::Cache="$apt/cache" -o Dir::State::status=/dev/null)
    if ! timeout 300 apt-get "${options[@]}" update >/dev/null 2>&1 ||
      ! fetch_deb libglfw3 "$apt" "${options[@]}" || ! fetch_deb libdecor-0-plugin-1-cairo "$apt"; then
      echo "weston: cannot fetch Debian 13's GLFW" >&2
      rm -rf "$apt"
      return 1
    fi
    rm -rf "$glfw"
    dpkg -x "$apt"/libglfw3_*.deb "$glfw"
    dpkg -x "$apt"/libdecor-0-plugin-1-cairo_*.deb "$glfw"
    rm -rf "$apt"
  fi
  echo "$glfw/usr/lib/x86_64-linux-gnu"
}

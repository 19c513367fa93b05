# xvfb.sh: a private Xvfb server for the scripts that need an X display
# (windows, keys, Wine). Source it, then:
#   xvfb_start [WxH]   starts a server with one screen of that size (default
#                      1280x720, 24 bits) on a display number the server picks
#                      itself, waits until it takes connections and exports
#                      DISPLAY; fails with a line on stderr if it does not come
#   xvfb_stop          stops the server xvfb_start started (call it from the
#                      script's EXIT trap; safe to call when none runs)
#   on_display CMD...  runs CMD on $DISPLAY, or on a private server started
#                      for it and stopped after it when there is no display
#   tap_escape         one short tap of Escape (50 ms, as a person taps it)
#   wait_for_film PID  waits (up to 300 s, only to catch a hang) until the
#                      screen shows the film's picture: its mean brightness,
#                      scaled down, at least 8 of 255 (neither black nor the
#                      loading bar); fails if PID ends first or time runs out
#   wait_gone PID [S]  waits up to S seconds (default 30) for the process to
#                      end; fails if it is still running then
xvfb_pid=${xvfb_pid:-}
xvfb_log=${xvfb_log:-}

xvfb_start() {
  local size=${1:-1280x720}
  command -v Xvfb >/dev/null || {
    echo "xvfb: Xvfb is not installed (scripts/setup.sh installs it)" >&2
    return 1
  }
  xvfb_log=$(mktemp)
  local number_file
  number_file=$(mktemp)
  # The server writes its display number to descriptor 3 once it is ready.
  Xvfb -displayfd 3 -screen 0 "${size}x24" -nolisten tcp 3>"$number_file" >"$xvfb_log" 2>&1 &
  xvfb_pid=$!
  local number=
  for _ in $(seq 200); do
    number=$(head -n 1 "$number_file")
    [[ -n $number ]] && break
    kill -0 "$xvfb_pid" 2>/dev/null || break
    sleep 0.05
  done
  rm -f "$number_file"
  if [[ -z $number ]]; then
    echo "xvfb: the Xvfb server did not start: $(tail -n 1 "$xvfb_log")" >&2
    xvfb_stop
    return 1
  fi
  export DISPLAY=:$number
}

# Ends a server this shell started (a pid, or nothing) and waits until it is
# gone, so that the next server cannot take its display number while it still
# removes its socket (a bounded wait: 10 s at most).
stop_child() {
  [[ -n ${1:-} ]] || return 0
  kill "$1" 2>/dev/null || true
  wait "$1" 2>/dev/null || true
  for _ in $(seq 100); do
    kill -0 "$1" 2>/dev/null || return 0
    sleep 0.1
  done
}

xvfb_stop() {
  stop_child "$xvfb_pid"
  [[ -z $xvfb_log ]] || rm -f "$xvfb_log"
  xvfb_pid=
  xvfb_log=
}

on_display() {
  if [[ -n ${DISPLAY:-} ]]; then
    "$@"
    return
  fi
  xvfb_start || return 1
  local status=0
  "$@" || status=$?
  xvfb_stop
  unset DISPLAY
  return "$status"
}

tap_escape() {
  xdotool keydown Escape
  sleep 0.05
  xdotool keyup Escape
}

wait_gone() {
  local pid=$1 tenths=$((${2:-30} * 10)) i
  for ((i = 0; i < tenths; i++)); do
    kill -0 "$pid" 2>/dev/null || return 0
    sleep 0.1
  done
  ! kill -0 "$pid" 2>/dev/null
}

wait_for_film() {
  local pid=$1 raw mean
  raw=$(mktemp)
  for _ in $(seq 300); do
    if ffmpeg -loglevel error -f x11grab -draw_mouse 0 -video_size 1280x720 -i "$DISPLAY" \
      -frames:v 1 -vf scale=32:18:flags=area -pix_fmt gray -f rawvideo "$raw" -y 2>/dev/null; then
      mean=$(od -An -v -tu1 -w1 "$raw" | awk '{ s += $1; n++ } END { print n ? int(s / n) : 0 }')
      if ((mean >= 8)); then
        rm -f "$raw"
        return 0
      fi
    fi
    kill -0 "$pid" 2>/dev/null || break
    sleep 1
  done
  rm -f "$raw"
  return 1
}

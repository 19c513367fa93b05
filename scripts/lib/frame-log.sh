# shellcheck shell=bash
# frame-log.sh: the frames a player presented, and the film's time of each,
# from the log that scripts/bench/frame_log.c writes. Source it, then:
#   frame_log_build DIR  compiles the preloaded logger into DIR/frame_log.so
#   film_frames LOG      prints one line per film frame presented: the
#                        real-time clock when its swap returned, and the
#                        film's time it shows (the loading and unloading
#                        bars left out)
#   frame_time LOG       prints "FRAMES SECONDS MS": film frames presented,
#                        the seconds between the first and the last, and the
#                        milliseconds a frame

frame_log_build() {
  cc -shared -fPIC -O2 -o "$1/frame_log.so" "$(dirname "${BASH_SOURCE[0]}")/../bench/frame_log.c" -ldl
}

# The player reads the clock once per bar frame; the first reading 2 s or
# more after the first one ends the loading bar; the next starts the film's
# clock; then the first reading after each swap is that film frame's time,
# until one past the film's 115 s ends the film.
film_frames() {
  awk '
    $1 == "g" && !started { bar = $2; started = 1; next }
    $1 == "g" && phase == 0 && $2 - bar >= 2.0 { phase = 1; next }
    $1 == "g" && phase == 1 { start = $2; phase = 2; after_swap = 1; next }
    $1 == "g" && phase == 2 && after_swap {
      after_swap = 0; t = $2 - start
      if (t > 115) phase = 3
      next
    }
    $1 == "s" && phase == 2 { if (!after_swap) printf "%s %.4f\n", $2, t; after_swap = 1 }
  ' "$1"
}

frame_time() {
  film_frames "$1" | awk 'NR == 1 { first = $1 } { last = $1; n++ }
    END { if (n > 1) printf "%d %.1f %.1f\n", n - 1, last - first, 1000 * (last - first) / (n - 1) }'
}

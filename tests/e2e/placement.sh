#!/usr/bin/env bash
# The real window under openbox, which adds its frame only once the window is
# mapped: on first show the frame, title bar included, is centred on the
# screen, at scale 1 and 1.5, start after start.
# Usage: placement.sh HOSTALLY_BINARY   (env PLACEMENT_RUNS: starts per scale, default 3)
set -uo pipefail
HOSTALLY="$(realpath "$1")"
source "$(dirname "$0")/x_session.sh"
start_x
runs="${PLACEMENT_RUNS:-3}"
dir="$(make_program_dir "$(dirname "$0")/../../app/data.txt")"

# Prints "left right top bottom x y w h" for window $1 once the window
# manager has given it a frame and it has stood still for a moment.
settled_geometry() {
  local last="" now extents
  for _ in $(seq 50); do
    extents="$(xprop -id "$1" _NET_FRAME_EXTENTS 2>/dev/null | sed -n 's/.*= //p' | tr -d ,)"
    now="$extents $(xwininfo -id "$1" 2>/dev/null | awk '/Absolute upper-left X/ {x = $4}
      /Absolute upper-left Y/ {y = $4} /Width:/ {w = $2} /Height:/ {h = $2} END {print x, y, w, h}')"
    if [[ -n "$extents" && "$now" == "$last" ]]; then
      echo "$now"
      return 0
    fi
    last="$now"
    sleep 0.2
  done
  echo "$last"
}

read -r sw sh < <(xwininfo -root | awk '/Width:/ {w = $2} /Height:/ {h = $2} END {print w, h}')
for scale in 1 1.5; do
  problems=()
  for run in $(seq "$runs"); do
    QT_SCALE_FACTOR=$scale "$dir/hostally" 2>"$dir.stderr" &
    pid=$!
    main="$(wait_window "$pid" NORMAL 15)"
    if [[ -z "$main" ]]; then
      problems+=("run $run: no window")
      kill -9 "$pid" 2>/dev/null
      continue
    fi
    read -r left right top bottom x y w h < <(settled_geometry "$main")
    where="frame ${left:-?},${right:-?},${top:-?},${bottom:-?} around ${w}x$h at $x,$y on ${sw}x$sh"
    # Twice the frame's centre against the screen's size, so halves compare
    # exactly; at scale 1.5 a logical pixel may round either way.
    tolerance=2
    [[ "$scale" == 1 ]] || tolerance=3
    if [[ -z "${top:-}" || "$top" -le 0 ]]; then
      problems+=("run $run: no title bar ($where)")
    else
      dx=$((2 * (x - left) + w + left + right - sw))
      dy=$((2 * (y - top) + h + top + bottom - sh))
      ((dx < -tolerance || dx > tolerance || dy < -tolerance || dy > tolerance)) &&
        problems+=("run $run: not centred ($where)")
    fi
    choose_menu "$main" Quit
    wait_exit "$pid" 10
    [[ "$exit_status" == running ]] && kill -9 "$pid"
  done
  report "frame centred, scale $scale, $runs starts" "$dir.stderr"
done
finish

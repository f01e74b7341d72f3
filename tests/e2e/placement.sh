#!/usr/bin/env bash
# The real window under openbox, which adds its frame only once the window is
# mapped: on every start the frame, title bar included, is centred on the
# screen, at scale 1 and 1.5.
# Usage: placement.sh HOSTALLY_BINARY   (env PLACEMENT_RUNS: starts per scale, default 3)
set -uo pipefail
HOSTALLY="$(realpath "$1")"
source "$(dirname "$0")/x_session.sh"
start_x

dir="$(make_program_dir "$(dirname "$0")/../../app/data.txt")"
read -r sw sh < <(xwininfo -root | awk '/Width:/ {w = $2} /Height:/ {h = $2} END {print w, h}')
for scale in 1 1.5; do
  problems=()
  for run in $(seq "${PLACEMENT_RUNS:-3}"); do
    QT_SCALE_FACTOR=$scale "$dir/hostally" 2>"$dir.stderr" &
    pid=$!
    main="$(wait_window "$pid" NORMAL 15)"
    read -r left right top bottom x y w h <<<"$(window_placed "$main")"
    # Twice the frame's centre against the screen's size, so halves compare
    # exactly; at scale 1.5 a pixel may round either way.
    dx=$((2 * (x - left) + w + left + right - sw)) dy=$((2 * (y - top) + h + top + bottom - sh))
    ((${top:-0} > 0 && dx * dx <= 9 && dy * dy <= 9)) ||
      problems+=("run $run: frame ${left:-?},${right:-?},${top:-?},${bottom:-?} around ${w:-?}x${h:-?} at ${x:-?},${y:-?} on ${sw}x$sh")
    [[ -n "$main" ]] && choose_menu "$main" Quit
    wait_exit "$pid" 10
    [[ "$exit_status" == running ]] && kill -9 "$pid"
  done
  report "frame centred at every start, scale $scale" "$dir.stderr"
done
finish

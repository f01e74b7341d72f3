#!/usr/bin/env bash
# The real window under openbox, which adds its frame only once the window is
# mapped: on first show the frame, title bar included, is centred on the screen.
# Usage: placement.sh HOSTALLY_BINARY
set -uo pipefail
HOSTALLY="$(realpath "$1")"
source "$(dirname "$0")/x_session.sh"
start_x

dir="$(make_program_dir "$(dirname "$0")/../../app/data.txt")"
"$dir/hostally" 2>"$dir.stderr" &
pid=$!
main="$(wait_window "$pid" NORMAL 15)"
sleep 0.5 # the frame, and the move that centres it, come after the window
read -r left right top bottom < <(xprop -id "$main" _NET_FRAME_EXTENTS | sed 's/.*= //; s/,//g')
read -r x y w h < <(xwininfo -id "$main" | awk '/Absolute upper-left X/ {x = $4}
  /Absolute upper-left Y/ {y = $4} /Width:/ {w = $2} /Height:/ {h = $2} END {print x, y, w, h}')
read -r sw sh < <(xwininfo -root | awk '/Width:/ {w = $2} /Height:/ {h = $2} END {print w, h}')
where="frame ${left:-?},${right:-?},${top:-?},${bottom:-?} around ${w}x$h at $x,$y on ${sw}x$sh"
# Twice the frame's centre against the screen's size, so halves compare exactly.
dx=$((2 * (x - left) + w + left + right - sw))
dy=$((2 * (y - top) + h + top + bottom - sh))
if [[ -z "$main" || -z "${top:-}" || "$top" -le 0 ]]; then
  fail "frame centred: no window with a title bar ($where)"
elif ((dx < -2 || dx > 2 || dy < -2 || dy > 2)); then
  fail "frame centred: $where"
else
  pass "frame centred"
fi
[[ -n "$main" ]] && choose_menu "$main" Quit
wait_exit "$pid" 10
[[ "$exit_status" == running ]] && kill -9 "$pid"
finish

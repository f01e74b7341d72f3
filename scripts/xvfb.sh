# Sourced by the scripts and tests that need a private X display.

# Starts Xvfb on a display no other X server holds (Xvfb picks the number and
# tells it through -displayfd), sets xvfb_pid and exports DISPLAY. Xvfb's
# messages go to $1/xvfb.log; when it cannot start, they are shown on stderr
# and this returns 1.
start_xvfb() {
  local dir=$1
  Xvfb -displayfd 5 -screen 0 1024x768x24 -nolisten tcp 5>"$dir/display" 2>"$dir/xvfb.log" &
  xvfb_pid=$!
  for _ in $(seq 200); do
    [[ -s "$dir/display" ]] && break
    kill -0 "$xvfb_pid" 2>/dev/null || break
    sleep 0.05
  done
  if [[ ! -s "$dir/display" ]]; then
    kill "$xvfb_pid" 2>/dev/null || true
    echo "Xvfb could not start:" >&2
    sed 's/^/  /' "$dir/xvfb.log" >&2
    return 1
  fi
  export DISPLAY=":$(head -1 "$dir/display")"
}

# Shared helpers for tests that drive the real hostally binary on a private
# Xvfb display with openbox, as a user would. Source it, then call start_x.

# Prints "1 passed, 0 failed" style totals at exit and sets the exit status.
passed=0
failed=0
skipped=0

pass() { passed=$((passed + 1)); echo "PASS: $*"; }
fail() { failed=$((failed + 1)); echo "FAIL: $*"; }
skip() { skipped=$((skipped + 1)); echo "SKIP: $*"; }

finish() {
  echo "$passed passed, $failed failed, $skipped skipped"
  [[ $failed -eq 0 ]]
}

# A scratch folder removed at exit; every test gets its own program folder in it.
work="$(mktemp -d /tmp/hostally-e2e.XXXXXX)"
chmod 755 "$work"
x_pids=()
cleanup_x() {
  for p in "${x_pids[@]}"; do kill "$p" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup_x EXIT

# Starts Xvfb on a free display and openbox on it, and exports DISPLAY.
start_x() {
  Xvfb -displayfd 5 -screen 0 1024x768x24 -nolisten tcp 5>"$work/display" 2>/dev/null &
  x_pids+=($!)
  for _ in $(seq 100); do [[ -s "$work/display" ]] && break; sleep 0.05; done
  export DISPLAY=":$(head -1 "$work/display")"
  openbox --sm-disable >/dev/null 2>&1 &
  x_pids+=($!)
  for _ in $(seq 100); do
    xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id' && break
    sleep 0.05
  done
  mkdir -m 700 "$work/runtime"
  export QT_QPA_PLATFORM=xcb QT_QPA_PLATFORMTHEME= XDG_RUNTIME_DIR="$work/runtime"
}

# Makes a program folder holding a copy of the real binary and, when given,
# a data.txt with the given file's bytes. Prints the folder.
make_program_dir() {
  local dir
  dir="$(mktemp -d "$work/prog.XXXXXX")"
  chmod 755 "$dir"
  cp "$HOSTALLY" "$dir/hostally"
  if [[ -n "${1:-}" ]]; then cp "$1" "$dir/data.txt"; fi
  echo "$dir"
}

# Prints the visible windows of process $1 whose _NET_WM_WINDOW_TYPE contains $2
# (NORMAL or DIALOG).
windows_of() {
  local w
  for w in $(xdotool search --onlyvisible --pid "$1" 2>/dev/null); do
    # The first type listed is the window's own; the rest are fallbacks.
    if xprop -id "$w" _NET_WM_WINDOW_TYPE 2>/dev/null | grep -q "= _NET_WM_WINDOW_TYPE_$2\b"; then
      echo "$w"
    fi
  done
}

# Waits up to $3 seconds (default 10) for a window of type $2 of process $1;
# prints its id, or nothing on timeout.
wait_window() {
  local pid=$1 type=$2 limit=${3:-10} w
  local tries=$((limit * 20))
  for _ in $(seq "$tries"); do
    w="$(windows_of "$pid" "$type" | head -1)"
    if [[ -n "$w" ]]; then echo "$w"; return 0; fi
    kill -0 "$pid" 2>/dev/null || return 1
    sleep 0.05
  done
  return 1
}

# Waits up to $2 seconds for a visible window titled exactly $1; prints its id.
wait_title() {
  local title=$1 limit=${2:-10} w
  for _ in $(seq $((limit * 20))); do
    w="$(xdotool search --onlyvisible --name "^${title}\$" 2>/dev/null | head -1)"
    if [[ -n "$w" ]]; then echo "$w"; return 0; fi
    sleep 0.05
  done
  return 1
}

# Gives window $1 the focus and types the keys that follow.
press() {
  local w=$1
  shift
  xdotool windowactivate --sync "$w" >/dev/null 2>&1 || xdotool windowfocus --sync "$w" >/dev/null 2>&1 || true
  xdotool key --clearmodifiers --delay 30 "$@"
}

# Waits up to $2 seconds for process $1 to end; prints its exit status, or
# "running" when it did not end. Call it in the shell that started the
# process, not inside $(...), or a slow exit reads as status -1.
wait_exit() {
  local pid=$1 limit=${2:-10}
  for _ in $(seq $((limit * 20))); do
    if ! kill -0 "$pid" 2>/dev/null; then
      wait "$pid" 2>/dev/null
      echo $?
      return 0
    fi
    sleep 0.05
  done
  echo running
}

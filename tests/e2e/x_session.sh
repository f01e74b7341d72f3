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

# Reports test $1 from the array "problems": a pass when it is empty, else a
# failure listing them and the last lines of the program's stderr file $2.
report() {
  if ((${#problems[@]} == 0)); then pass "$1"; return; fi
  fail "$1: ${problems[*]}"
  if [[ -s "${2:-}" ]]; then echo "  last lines of the program's stderr:"; tail -n 20 "$2" | sed 's/^/  | /'; fi
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

source "$(dirname "${BASH_SOURCE[0]}")/../../scripts/xvfb.sh"
# Starts Xvfb on a free display and openbox on it, and exports DISPLAY; ends
# the test, with Xvfb's own error, when it cannot start.
start_x() {
  start_xvfb "$work" || exit 1
  x_pids+=("$xvfb_pid")
  openbox --sm-disable >/dev/null 2>&1 &
  x_pids+=($!)
  for _ in $(seq 100); do
    xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id' && break
    sleep 0.05
  done
  mkdir -m 700 "$work/runtime"
  export QT_QPA_PLATFORM=xcb QT_QPA_PLATFORMTHEME= XDG_RUNTIME_DIR="$work/runtime"
}

# Prints the sanitizer option variables that are set, as VAR=value lines for
# env, with any suppressions file copied where another user can read it.
sanitizer_env_for_others() {
  local var copy i opts
  for var in ASAN_OPTIONS LSAN_OPTIONS UBSAN_OPTIONS; do
    [[ -n "${!var:-}" ]] || continue
    IFS=: read -ra opts <<<"${!var}"
    for i in "${!opts[@]}"; do
      [[ "${opts[i]}" == suppressions=* ]] || continue
      copy="$(mktemp "$work/$var.XXXXXX")"
      install -m 644 "${opts[i]#suppressions=}" "$copy"
      opts[i]="suppressions=$copy"
    done
    echo "$var=$(IFS=:; echo "${opts[*]}")"
  done
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

# Once the main window of process $1 is up, answers each box its start-up
# shows with Return, as they come, until none has come for 1.5 s; prints the
# boxes' titles, each followed by ";".
answer_start_up() {
  local box quiet=0
  while ((quiet < 30)); do
    box="$(windows_of "$1" DIALOG | head -1)"
    if [[ -n "$box" ]]; then
      printf '%s;' "$(xdotool getwindowname "$box")"
      press "$box" Return
      sleep 0.3
      quiet=0
    else
      sleep 0.05
      quiet=$((quiet + 1))
    fi
  done
}

# Waits up to $3 seconds (default 10) for a window of type $2 of process $1
# (a main window also to stand still); prints its id, or nothing on timeout.
wait_window() {
  local pid=$1 type=$2 limit=${3:-10} w
  local tries=$((limit * 20))
  for _ in $(seq "$tries"); do
    w="$(windows_of "$pid" "$type" | head -1)"
    if [[ -n "$w" ]]; then
      [[ "$type" == NORMAL ]] && window_placed "$w" >/dev/null
      echo "$w"
      return 0
    fi
    kill -0 "$pid" 2>/dev/null || return 1
    sleep 0.05
  done
  return 1
}

# Prints window $1's frame extents and geometry, "left right top bottom x y w h",
# once it has stood framed and still for 0.4 s (at most 10 s): it centres itself
# again when it learns of its frame, and a click aimed before that misses.
window_placed() {
  local now="" same=0 last=""
  for _ in $(seq 50); do
    now="$(xprop -id "$1" _NET_FRAME_EXTENTS 2>/dev/null | sed -n 's/.*= //p' | tr -d ,) $(
      xwininfo -id "$1" 2>/dev/null | awk '/Absolute upper-left X/ {x = $4}
      /Absolute upper-left Y/ {y = $4} /Width:/ {w = $2} /Height:/ {h = $2} END {print x, y, w, h}')"
    if [[ "$now" == "$last" && $(wc -w <<<"$now") == 8 ]]; then ((++same >= 2)) && break; else same=0; fi
    last="$now"
    sleep 0.2
  done
  echo "$now"
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

# Waits up to $2 seconds for process $1, a child of this shell, to end, and
# sets exit_status to its status, or to "running" when it did not end. (Not
# for use in $(...): a subshell cannot wait for this shell's children.)
wait_exit() {
  local pid=$1 limit=${2:-10}
  exit_status=running
  for _ in $(seq $((limit * 20))); do
    if ! kill -0 "$pid" 2>/dev/null; then
      wait "$pid" 2>/dev/null
      exit_status=$?
      return 0
    fi
    sleep 0.05
  done
}

# --- Driving the main window -------------------------------------------------
# Positions are in the window's own pixels: the controls sit below the menu
# bar at the places the layout gives them.

# The menu bar's height for window $1: what the window has beyond its client area.
menu_height() {
  local h
  # Without an id xwininfo would wait for a click on a window.
  [[ -n "$1" ]] || { echo 0; return 1; }
  h="$(xwininfo -id "$1" | awk '/Height:/ {print $2}')"
  echo $((h - 346))
}

click_at() {
  xdotool mousemove --window "$1" "$2" "$3" click 1
  sleep 0.1
}

# Clicks line $2 of the events list of window $1.
click_event_line() {
  local top
  top="$(menu_height "$1")"
  click_at "$1" 60 $((top + 72 + 2 + 13 * $2 + 6))
}

# Clicks a button of window $1 by name: events_add, events_remove, events_reset,
# leagues_add, leagues_remove, leagues_reset.
click_button() {
  local top x
  top="$(menu_height "$1")"
  case "$2" in
    events_add) x=36 ;; events_remove) x=100 ;; events_reset) x=164 ;;
    leagues_add) x=252 ;; leagues_remove) x=316 ;; leagues_reset) x=384 ;;
  esac
  click_at "$1" "$x" $((top + 44))
}

# Chooses File > Save (item 1) or File > Quit (item 2) in window $1.
choose_menu() {
  local downs=1
  [[ "$2" == Quit ]] && downs=2
  click_at "$1" 16 10
  sleep 0.2
  for _ in $(seq "$downs"); do xdotool key Down; done
  xdotool key Return
  sleep 0.1
}

# --- Start-up on a given data file ---------------------------------------------

# The SHA-256 of file $1, or what it is when no plain file (a FIFO would block).
file_state() { if [[ -f "$1" ]]; then sha256sum <"$1"; else stat -c %F "$1" 2>/dev/null; fi; }

# The program's error line on stderr for folder $1 ("" when there is none).
error_line() {
  grep -m1 '^hostally: ' "$1.stderr" 2>/dev/null
}

# Starts the program in folder $1, whose data.txt it must refuse, and checks:
# an error box titled "Hostally", no main window, exit status 1, the file
# untouched, and on stderr "hostally: $1/data.txt" then a match for regex $2.
# Reports as test $3.
expect_rejected() {
  local dir=$1 pattern=$2 name=$3 before after box main title line
  local problems=()
  before="$(file_state "$dir/data.txt")"
  "$dir/hostally" 2>"$dir.stderr" &
  local pid=$!
  box="$(wait_window "$pid" DIALOG 15)"
  main="$(windows_of "$pid" NORMAL)"
  title="$( [[ -n "$box" ]] && xdotool getwindowname "$box")"
  [[ -n "$box" ]] && press "$box" Return
  wait_exit "$pid" 10
  [[ "$exit_status" == running ]] && kill -9 "$pid"
  after="$(file_state "$dir/data.txt")"
  line="$(error_line "$dir")"

  [[ -n "$box" ]] || problems+=("no error box")
  [[ "$title" == Hostally ]] || problems+=("error box titled '$title'")
  [[ -z "$main" ]] || problems+=("the main window was shown")
  [[ "$exit_status" == 1 ]] || problems+=("exit status $exit_status")
  [[ "${line#"hostally: $dir/data.txt"}" != "$line" && "${line#"hostally: $dir/data.txt"}" =~ $pattern ]] ||
    problems+=("no such error line on stderr")
  [[ "$before" == "$after" ]] || problems+=("data.txt changed")
  report "$name" "$dir.stderr"
}

#!/usr/bin/env bash
# Counts the real program could not save are kept beside data.txt and offered
# back at the next start: after kill -TERM, kill -KILL (with a second window
# running, whose file is not offered) and a killed X server. Yes shows them
# as unsaved and Save writes them; Quit answered No leaves nothing to offer.
# Usage: recovery.sh HOSTALLY_BINARY
set -uo pipefail
HOSTALLY="$(realpath "$1")"
source "$(dirname "$0")/x_session.sh"
start_x

records() { # leagues, then events Quiz counting $1 and Relay counting 0
  printf '"North"\r\n4\r\n"South"\r\n0\r\n"West"\r\n7\r\n"Quiz"\r\n%d\r\n"Relay"\r\n0\r\n' "$1"
}
records 2 >"$work/before.txt"
records 5 >"$work/expected.txt"

# Starts the program in folder $1 and sets pid and main; $2 is what start-up
# must do: "offer" asks about unsaved counts, answered Yes; "none" must not ask.
start() {
  "$1/hostally" 2>>"$1.stderr" &
  pid=$!
  local box=""
  box="$(wait_title "Unsaved counts" 6)"
  case "$2" in
    none) [[ -z "$box" ]] || { problems+=("asked about unsaved counts"); press "$box" alt+n; } ;;
    *)
      if [[ -z "$box" ]]; then
        problems+=("no question about unsaved counts")
      else
        press "$box" Return
      fi ;;
  esac
  main="$(wait_window "$pid" NORMAL 15)" || problems+=("no main window")
}

three_adds() {
  for _ in 1 2 3; do
    click_event_line "$main" 0
    click_button "$main" events_add
  done
}

# Quit must ask to save the restored counts; Yes writes them.
quit_and_save() {
  choose_menu "$main" Quit
  local box
  box="$(wait_title Save 10)" && press "$box" Return || problems+=("restored counts not unsaved")
  box="$(wait_title Saved 10)" && press "$box" Return
  wait_exit "$pid" 10
  cmp -s "$dir/data.txt" "$work/expected.txt" || problems+=("data.txt: $(tr '\r\n' '  ' <"$dir/data.txt")")
  [[ ! -e "$dir/data.txt.unsaved" ]] || problems+=("recovery file left after the save")
}

# kill -TERM right after the Adds, before a second has passed.
problems=()
dir="$(make_program_dir "$work/before.txt")"
start "$dir" none
three_adds
kill -TERM "$pid"
wait_exit "$pid" 10
[[ "$exit_status" == 143 ]] || problems+=("exit status $exit_status after SIGTERM")
cmp -s "$dir/data.txt" "$work/before.txt" || problems+=("data.txt changed without a save")
start "$dir" offer
quit_and_save
report "kill -TERM right after three Adds keeps them" "$dir.stderr"

# kill -KILL two seconds after the Adds, while a second window runs: that
# window's own file is not offered.
problems=()
dir="$(make_program_dir "$work/before.txt")"
start "$dir" none
first=$pid
three_adds
sleep 2
[[ -f "$dir/data.txt.unsaved" ]] || problems+=("no recovery file 2 s after the Adds")
start "$dir" none
choose_menu "$main" Quit
wait_exit "$pid" 10
[[ -f "$dir/data.txt.unsaved" ]] || problems+=("the second window deleted the first one's file")
kill -KILL "$first"
wait_exit "$first" 10
start "$dir" offer
quit_and_save
report "kill -KILL two seconds after three Adds keeps them; a running window's file is not offered" "$dir.stderr"

# Quit answered No: no file, no question at the next start.
problems=()
dir="$(make_program_dir "$work/before.txt")"
start "$dir" none
three_adds
sleep 1.5
choose_menu "$main" Quit
box="$(wait_title Save 10)" && press "$box" alt+n
wait_exit "$pid" 10
[[ "$exit_status" == 0 ]] || problems+=("exit status $exit_status")
ls "$dir" | grep -q unsaved && problems+=("left: $(ls "$dir" | grep unsaved | tr '\n' ' ')")
start "$dir" none
choose_menu "$main" Quit
wait_exit "$pid" 10
report "Quit answered No leaves no recovery file and no question" "$dir.stderr"

# The X server killed: the program dies with it; the next start, on another
# display, offers the counts.
problems=()
dir="$(make_program_dir "$work/before.txt")"
start "$dir" none
three_adds
sleep 2
for p in "${x_pids[@]}"; do kill -KILL "$p" 2>/dev/null; wait "$p" 2>/dev/null; done
wait_exit "$pid" 10
[[ "$exit_status" == running ]] && { problems+=("still running without its display"); kill -9 "$pid"; }
x_pids=()
rm -rf "$work/runtime"
start_x
start "$dir" offer
quit_and_save
report "a killed X server keeps the counts" "$dir.stderr"
finish

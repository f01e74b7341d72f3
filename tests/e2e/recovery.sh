#!/usr/bin/env bash
# Counts the real program could not save are offered back at the next start:
# after kill -TERM, kill -KILL (a second window running meanwhile, whose own
# file is not offered) and a killed X server. Yes shows them as unsaved, and
# Save writes them.
# Usage: recovery.sh HOSTALLY_BINARY
set -uo pipefail
HOSTALLY="$(realpath "$1")"
source "$(dirname "$0")/x_session.sh"
start_x
records() { printf '"North"\r\n4\r\n"South"\r\n0\r\n"West"\r\n7\r\n"Quiz"\r\n%d\r\n' "$1"; }
records 2 >"$work/before.txt"
records 5 >"$work/expected.txt"

# Starts the program in a new folder ($1 "new") or again in $dir, and sets pid
# and main. With $2 "offer" start-up must ask about unsaved counts (answered
# Yes); with "none" it must not ask.
start() {
  [[ "$1" == new ]] && dir="$(make_program_dir "$work/before.txt")"
  "$dir/hostally" 2>>"$dir.stderr" &
  pid=$!
  local box
  box="$(wait_title "Unsaved counts" 5)"
  if [[ -n "$box" ]]; then press "$box" Return; fi
  if [[ -n "$box" && "$2" == none ]]; then problems+=("asked at start-up"); fi
  if [[ -z "$box" && "$2" == offer ]]; then problems+=("no question at start-up"); fi
  main="$(wait_window "$pid" NORMAL 15)" || problems+=("no main window")
}
three_adds() { for _ in 1 2 3; do click_event_line "$main" 0 && click_button "$main" events_add; done; }
# Quit asks to save the restored counts, and Yes writes them.
quit_and_save() {
  choose_menu "$main" Quit
  box="$(wait_title Save 10)" && press "$box" Return || problems+=("restored counts not unsaved")
  box="$(wait_title Saved 10)" && press "$box" Return
  wait_exit "$pid" 10
  cmp -s "$dir/data.txt" "$work/expected.txt" || problems+=("data.txt: $(tr '\r\n' '  ' <"$dir/data.txt")")
  [[ ! -e "$dir/data.txt.unsaved" ]] || problems+=("recovery file left after the save")
}

problems=()
start new none
three_adds
kill -TERM "$pid" # before the second after the Adds has passed
wait_exit "$pid" 10
[[ "$exit_status" == 143 ]] || problems+=("exit status $exit_status after SIGTERM")
cmp -s "$dir/data.txt" "$work/before.txt" || problems+=("data.txt changed without a save")
start again offer
quit_and_save
report "kill -TERM right after three Adds keeps them" "$dir.stderr"

problems=()
start new none
first=$pid
three_adds
sleep 2
start again none
choose_menu "$main" Quit
wait_exit "$pid" 10
kill -KILL "$first"
start again offer
quit_and_save
report "kill -KILL 2 s after three Adds keeps them; a running window's file is not offered" "$dir.stderr"

problems=()
start new none
three_adds
sleep 2
for p in "${x_pids[@]}"; do kill -KILL "$p" 2>/dev/null; wait "$p" 2>/dev/null; done
wait_exit "$pid" 10
x_pids=()
rm -rf "$work/runtime"
start_x
start again offer
quit_and_save
report "a killed X server keeps the counts" "$dir.stderr"
finish

#!/usr/bin/env bash
# The real program counts the line the user clicks: in a list of 100 events,
# longer than its 18 rows, clicking the bottom visible line and then Add,
# three times over, adds 3 to that event and to no other.
# Usage: counting.sh HOSTALLY_BINARY
set -uo pipefail
HOSTALLY="$(realpath "$1")"
source "$(dirname "$0")/x_session.sh"
start_x

records() { # the leagues, then events 0 to 99 counting 0, but event 17 counting $1
  printf '"North"\r\n4\r\n"South"\r\n0\r\n"West"\r\n7\r\n'
  for i in $(seq 0 99); do printf '"Event %d"\r\n%d\r\n' "$i" "$((i == 17 ? $1 : 0))"; done
}
records 0 >"$work/before.txt"
records 3 >"$work/expected.txt"
dir="$(make_program_dir "$work/before.txt")"
problems=()
"$dir/hostally" 2>"$dir.stderr" &
pid=$!
main="$(wait_window "$pid" NORMAL 15)"
for _ in 1 2 3; do
  click_event_line "$main" 17
  click_button "$main" events_add
done
choose_menu "$main" Save
box="$(wait_title Saved 10)" && press "$box" Return
cmp -s "$dir/data.txt" "$work/expected.txt" ||
  problems+=("$(diff <(tr -d '\r' <"$work/expected.txt" | paste -d' ' - -) <(tr -d '\r' <"$dir/data.txt" | paste -d' ' - -) |
    grep '^[<>]' | tr '\n' ' ')")
choose_menu "$main" Quit
wait_exit "$pid" 10
[[ "$exit_status" == running ]] && kill -9 "$pid"
report "three clicks on the bottom visible line count it three times" "$dir.stderr"
finish

#!/usr/bin/env bash
# The recovery files where things go wrong, on the real program: a second
# window never takes a killed window's file; a save whose folder sync or
# recovery file deletion fails is not offered again. (A recovery file on a
# full disk is in faults.sh.)
# Usage: safety_net.sh HOSTALLY_BINARY
set -uo pipefail
HOSTALLY="$(realpath "$1")"
source "$(dirname "$0")/x_session.sh"
start_x
# North, South 0, West, Quiz: the leagues, then the events.
records() { printf '"North"\r\n%d\r\n"South"\r\n0\r\n"West"\r\n%d\r\n"Quiz"\r\n%d\r\n' "$@"; }
records 4 7 2 >"$work/before.txt"
# This computer's recovery file in slot $1 (1, 2, ...), named for the computer.
slot() { ls "$dir" | grep -xE "data\.txt\.unsaved-[0-9a-f]{8}$([[ $1 == 1 ]] || echo "-$1")" | sed "s|^|$dir/|"; }

# Starts the program in $dir and sets pid and main. With $1 "offer" start-up
# must ask about unsaved counts first, answered Yes; with "none" it must not.
start() {
  "$dir/hostally" 2>>"$dir.stderr" &
  pid=$!
  main="$(wait_window "$pid" NORMAL 15)" || problems+=("no main window")
  local titles
  titles="$(answer_start_up "$pid")"
  [[ -n "$titles" && "$1" == none ]] && problems+=("asked at start-up: $titles")
  [[ "$titles" != "Unsaved counts;" && "$1" == offer ]] && problems+=("no question at start-up: $titles")
}
adds() { click_event_line "$main" 0 && for _ in $(seq "$1"); do click_button "$main" events_add; done; }
# data.txt must hold these counts of North, West and Quiz.
holds() { records "$@" | cmp -s - "$dir/data.txt" || problems+=("data.txt: $(tr '\r\n' '  ' <"$dir/data.txt")"); }
# File > Quit; with $1 "save" it must ask to save (answered Yes), else end at
# once. A question not expected is answered Yes too, to show what it writes.
quit() {
  choose_menu "$main" Quit
  local box
  if box="$(wait_title Save 3)"; then
    [[ "${1:-}" == save ]] || problems+=("Quit asked to save")
    press "$box" Return
    box="$(wait_title Saved 10)" && press "$box" Return || problems+=("no Saved")
  elif [[ "${1:-}" == save ]]; then problems+=("Quit did not ask to save"); fi
  wait_exit "$pid" 10
  [[ "$exit_status" == 0 ]] || { problems+=("exit status $exit_status"); kill -9 "$pid"; }
}
# Has strace trace the running program with the options given until it ends
# (each case kills it: LeakSanitizer's check at exit cannot run under ptrace).
trace() {
  strace -p "$pid" -f -qq -o "$dir.strace" "$@" &
  tracer=$!
  for _ in $(seq 100); do
    grep -q 'TracerPid:[[:space:]]*[1-9]' "/proc/$pid/status" && return
    sleep 0.05
  done
  problems+=("strace did not attach")
}
kill_app() { kill -KILL "$pid"; wait_exit "$pid" 10; }

# --- A second window takes a free slot, never a killed window's file -------------
problems=()
dir="$(make_program_dir "$work/before.txt")"
start none
first=$pid
adds 3
sleep 2
start none # idle until the first is killed
pid=$first kill_app
adds 1
sleep 2
tr -d '\r' <"$(slot 1)" | grep -qx 'line E 0 1 2 5 Quiz' ||
  problems+=("the first window's file was overwritten")
[[ -n "$(slot 2)" ]] || problems+=("no second recovery file")
quit save
holds 4 7 3
start offer
quit save
holds 4 7 6
report "a second window keeps its counts beside a killed window's" "$dir.stderr"

# --- The save's folder sync, or the recovery file's deletion, fails after the swap ---
# Only the data file's folder fails to sync (-P traces the folder alone, whose
# sync for the log comes first), or the recovery file cannot be deleted: either way the counts are in
# data.txt, so a restart must not add them again.
for fault in sync unlink; do
  problems=()
  dir="$(make_program_dir "$work/before.txt")"
  start none
  adds 2
  sleep 2
  if [[ $fault == sync ]]; then
    trace -P "$dir" -e trace=fsync -e inject=fsync:error=EIO:when=2
    choose_menu "$main" Save
    box="$(wait_window "$pid" DIALOG 10)"
    [[ -n "$box" && "$(xdotool getwindowname "$box")" == Hostally ]] || problems+=("no Hostally box")
    grep -qxF "hostally: $dir/data.txt: cannot write the folder $dir to the disk: Input/output error" \
      "$dir.stderr" || problems+=("the folder sync not named")
    [[ -n "$box" ]] && press "$box" Return
    [[ -z "$(slot 1)" ]] || problems+=("the saved counts are still kept as unsaved")
  else
    recovery="$(slot 1)"
    trace -P "$recovery" -e trace=unlink,unlinkat -e inject=unlink,unlinkat:error=EACCES
    choose_menu "$main" Save
    wait_title Saved 10 >/dev/null || problems+=("no Saved")
    sleep 1.5 # the failed deletion is known by now; the counts are in data.txt all the same
    titles="$(for box in $(windows_of "$pid" DIALOG); do xdotool getwindowname "$box"; done)"
    [[ "$titles" == Saved ]] || problems+=("boxes up after the save: $(echo $titles)")
    [[ -e "$recovery" ]] || problems+=("the recovery file was deleted all the same")
  fi
  kill_app
  wait "$tracer"
  holds 4 7 4
  start none
  quit
  holds 4 7 4
  [[ -z "$(slot 1)" ]] || problems+=("the recovery file is left")
  report "a save whose $([[ $fault == sync ]] && echo folder cannot be synced || echo recovery file cannot be deleted) is not offered again" "$dir.stderr"
done

finish

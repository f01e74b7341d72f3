#!/usr/bin/env bash
# Signals ignored at start stay ignored, as for any program: started with
# SIGHUP and SIGINT ignored (nohup, a background job), the real program's
# window outlives both, and File > Quit then ends it with status 0.
# Usage: ignored_signals.sh HOSTALLY_BINARY
set -uo pipefail
HOSTALLY="$(realpath "$1")"
source "$(dirname "$0")/x_session.sh"
start_x
printf '"North"\r\n4\r\n"South"\r\n0\r\n"West"\r\n7\r\n"Quiz"\r\n2\r\n' >"$work/data.txt"
dir="$(make_program_dir "$work/data.txt")"
problems=()
(trap '' HUP INT; exec "$dir/hostally") 2>"$dir.stderr" &
pid=$!
main="$(wait_window "$pid" NORMAL 15)" || problems+=("no main window")
for sig in HUP INT; do
  kill -"$sig" "$pid"
  sleep 1
  kill -0 "$pid" 2>/dev/null || { wait_exit "$pid" 1; problems+=("SIG$sig ended it with status $exit_status"); break; }
done
if [[ -n "$main" && -n "$(windows_of "$pid" NORMAL)" ]]; then
  choose_menu "$main" Quit
  wait_exit "$pid" 10
  [[ "$exit_status" == running ]] && kill -9 "$pid"
  [[ "$exit_status" == 0 ]] || problems+=("exit status $exit_status after File > Quit")
fi
cmp -s "$dir/data.txt" "$work/data.txt" || problems+=("data.txt changed")
[[ ! -e "$dir/data.txt.unsaved" ]] || problems+=("a recovery file was left")
report "SIGHUP and SIGINT ignored at start leave the window running" "$dir.stderr"
finish

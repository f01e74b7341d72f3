#!/usr/bin/env bash
# hostally.exe under Wine while another program holds data.txt without
# sharing it, as spreadsheets and sync clients do. Held for a second across a
# Save, only "Saved" shows; held for ten, Save says data.txt is in use, keeps
# it and leaves no temporary file, and works once the holder lets go.
# Usage: wine_in_use.sh HOSTALLY_EXE HOLD_FILE_EXE
#        (env: WINEPREFIX; SCREENSHOT, a PNG to write of the in-use message)
set -uo pipefail
HOSTALLY="$(realpath "$1")"
HOLD="$(realpath "$2")"
source "$(dirname "$0")/x_session.sh"
start_x
unset QT_QPA_PLATFORM QT_QPA_PLATFORMTHEME
export WINEDEBUG="${WINEDEBUG:--all}" WINEDLLOVERRIDES="mscoree,mshtml="

# data.txt with the first event's count $1: 3 at the start, then one more per Add.
records() { printf '"North"\r\n4\r\n"South"\r\n0\r\n"West"\r\n7\r\n"Quiz"\r\n%s\r\n"Relay"\r\n1\r\n' "$1"; }
dir="$(mktemp -d "$work/prog.XXXXXX")"
cp "$HOSTALLY" "$dir/hostally.exe"
records 3 >"$dir/data.txt"
# Message boxes: the windows titled Hostally besides the main one.
boxes() { xdotool search --onlyvisible --name '^Hostally$' 2>/dev/null | grep -vx "$main"; }

wine "$dir/hostally.exe" 2>"$dir.stderr" &
pid=$!
main="$(wait_title Hostally 90)"
[[ -n "$main" ]] || { fail "no window"; finish; exit; }
sleep 1
for seconds in 1 10; do
  problems=()
  click_event_line "$main" 0
  click_button "$main" events_add
  # The helper holds data.txt once it says so.
  wine "$HOLD" "$(winepath -w "$dir/data.txt")" "$seconds" >"$work/held" 2>&1 &
  holder=$!
  for _ in $(seq 400); do grep -qs held "$work/held" && break; sleep 0.05; done
  grep -qs held "$work/held" || problems+=("the helper never held data.txt: $(cat "$work/held")")
  choose_menu "$main" Save
  if ((seconds == 10)); then
    box="$(for _ in $(seq 100); do boxes && break; sleep 0.05; done | head -1)"
    [[ -n "$box" ]] || problems+=("no message")
    grep -qF 'data.txt: the file is in use by another program: close that program' "$dir.stderr" ||
      problems+=("not said that another program has data.txt")
    [[ -n "${SCREENSHOT:-}" ]] && sleep 0.5 && import -window root "$SCREENSHOT"
    cmp -s "$dir/data.txt" <(records 4) || problems+=("data.txt changed")
    left="$(ls -A "$dir" | grep -vxE 'hostally.exe|data.txt(\.unsaved-[0-9a-f]+(-[0-9]+)?(\.lock)?|\.log-[0-9a-f]+)?')"
    [[ -z "$left" ]] || problems+=("a file left behind: $left")
    press "$box" Return
    wait "$holder"
    choose_menu "$main" Save
  fi
  box="$(wait_title Saved 15)"
  [[ -n "$box" ]] || problems+=("no Saved box")
  [[ -z "$(boxes)" ]] || problems+=("a message besides Saved")
  [[ -n "$box" ]] && press "$box" Return
  sleep 0.3
  cmp -s "$dir/data.txt" <(records $((seconds == 1 ? 4 : 5))) || problems+=("data.txt is not the counts")
  wait "$holder"
  report "data.txt held for $seconds s across a Save" "$dir.stderr"
done
choose_menu "$main" Quit
wait_exit "$pid" 20
[[ "$exit_status" == 0 ]] || fail "quit: exit status $exit_status"
[[ "$exit_status" == running ]] && kill -9 "$pid"
finish

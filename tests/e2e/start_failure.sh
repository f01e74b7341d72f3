#!/usr/bin/env bash
# The real program started on a data file it cannot read: it shows an error
# box titled "Hostally" and never its window, prints the file and line on
# stderr, exits with status 1, and leaves the file as it was.
# Usage: start_failure.sh HOSTALLY_BINARY
set -uo pipefail
HOSTALLY="$(realpath "$1")"
source "$(dirname "$0")/x_session.sh"
start_x

leagues='"North"\r\n4\r\n"South"\r\n0\r\n"West"\r\n7\r\n'

# name | data.txt bytes (printf format, or MISSING) | text expected on stderr
cases=(
  "missing file|MISSING|/data.txt: cannot open the file for reading: No such file or directory"
  "empty file||/data.txt:1: the file is empty, expected three league records"
  "text for a count|${leagues}\"Quiz\"\r\nabc\r\n|/data.txt:8: expected a count, found \"abc\""
  "name without quotes|North\r\n4\r\n|/data.txt:1: expected the name of league 1 of 3 in double quotes, found \"North\""
  "two leagues|\"North\"\r\n4\r\n\"South\"\r\n0\r\n|/data.txt:5: expected the name of league 3 of 3, found end of file"
)

for c in "${cases[@]}"; do
  IFS='|' read -r name bytes expected <<<"$c"
  dir="$(make_program_dir)"
  if [[ "$bytes" != MISSING ]]; then printf "$bytes" >"$dir/data.txt"; fi
  before="$(cat "$dir/data.txt" 2>/dev/null | sha256sum)"

  "$dir/hostally" 2>"$dir/stderr" &
  pid=$!
  box="$(wait_window "$pid" DIALOG 15)"
  main="$(windows_of "$pid" NORMAL)"
  title="$( [[ -n "$box" ]] && xdotool getwindowname "$box")"
  [[ -n "$box" ]] && press "$box" Return
  # Not inside $(...): only this shell, which started the program, can collect
  # its exit status once it has ended.
  wait_exit "$pid" 10 >"$dir/rc"
  rc="$(cat "$dir/rc")"
  [[ "$rc" == running ]] && kill -9 "$pid"
  after="$(cat "$dir/data.txt" 2>/dev/null | sha256sum)"

  problems=()
  [[ -n "$box" ]] || problems+=("no error box")
  [[ "$title" == Hostally ]] || problems+=("error box titled '$title'")
  [[ -z "$main" ]] || problems+=("the main window was shown")
  [[ "$rc" == 1 ]] || problems+=("exit status $rc")
  grep -qF "hostally: $dir$expected" "$dir/stderr" || problems+=("stderr: $(cat "$dir/stderr")")
  [[ "$before" == "$after" ]] || problems+=("data.txt changed")
  [[ "$bytes" != MISSING || ! -e "$dir/data.txt" ]] || problems+=("data.txt created")
  if ((${#problems[@]} == 0)); then pass "$name"; else fail "$name: ${problems[*]}"; fi
done

finish

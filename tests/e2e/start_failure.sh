#!/usr/bin/env bash
# The real program started on a data file it cannot read or refuses: it shows
# an error box titled "Hostally" and never its window, prints the file and the
# fault on stderr, exits with status 1, and leaves the file as it was. Every
# kind of fault, its line and its words are rows of tst_data_format and
# tst_data_file.
# Usage: start_failure.sh HOSTALLY_BINARY
set -uo pipefail
HOSTALLY="$(realpath "$1")"
source "$(dirname "$0")/x_session.sh"
start_x

dir="$(make_program_dir)"
expect_rejected "$dir" '^: cannot open the file for reading: No such file or directory$' "missing file"
[[ ! -e "$dir/data.txt" ]] || fail "missing file: data.txt was created"

dir="$(make_program_dir)"
mkfifo "$dir/data.txt" # opened the usual way, it would wait for a writer
expect_rejected "$dir" '^: it is a pipe, socket or device, not a plain file$' "a FIFO named data.txt"

dir="$(make_program_dir)"
printf '"North"\r\n4\r\n"South"\r\n0\r\n"West"\r\n7\r\n"Quiz"\r\n3\r\n"Relay"\r\nabc\r\n' \
  >"$dir/data.txt"
expect_rejected "$dir" '^:10: expected a count, found abc$' "a text for a count on line 10"

dir="$(make_program_dir)"
printf '\xff\xfe"\0N\0"\0\r\0\n\0' >"$dir/data.txt"
expect_rejected "$dir" '^: the file is saved as UTF-16 \("Unicode"\), which Hostally cannot read' \
  "UTF-16, as Notepad saves \"Unicode\""

finish

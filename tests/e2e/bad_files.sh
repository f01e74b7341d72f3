#!/usr/bin/env bash
# The real program started on data files its loader refuses: it ends with
# status 1, an error box and no window, the file and line on stderr, and the
# file untouched. Every kind of fault, its line and its words are the
# parser's rows in tst_data_format.
# Usage: bad_files.sh HOSTALLY_BINARY
set -uo pipefail
HOSTALLY="$(realpath "$1")"
source "$(dirname "$0")/x_session.sh"
start_x

dir="$(make_program_dir)"
printf '"North"\r\n4\r\n"South"\r\n0\r\n"West"\r\n7\r\n"Quiz"\r\n3\r\n"Relay"\r\nabc\r\n' \
  >"$dir/data.txt"
expect_rejected "$dir" '^:10: expected a count, found abc$' "a text for a count on line 10"

dir="$(make_program_dir)"
printf '\xff\xfe"\0N\0"\0\r\0\n\0' >"$dir/data.txt"
expect_rejected "$dir" '^: the file is saved as UTF-16 \("Unicode"\), which Hostally cannot read' \
  "UTF-16, as Notepad saves \"Unicode\""

finish

#!/usr/bin/env bash
# The real program started on a data file it cannot read: it shows an error
# box titled "Hostally" and never its window, prints the file and line on
# stderr, exits with status 1, and leaves the file as it was.
# Usage: start_failure.sh HOSTALLY_BINARY
set -uo pipefail
HOSTALLY="$(realpath "$1")"
source "$(dirname "$0")/x_session.sh"
start_x

dir="$(make_program_dir)"
expect_rejected "$dir" '^: cannot open the file for reading: No such file or directory$' "missing file"
[[ ! -e "$dir/data.txt" ]] || fail "missing file: data.txt was created"

dir="$(make_program_dir)"
printf '"North"\r\n4\r\n"South"\r\n0\r\n"West"\r\n7\r\n"Quiz"\r\nabc\r\n' >"$dir/data.txt"
expect_rejected "$dir" '^:8: expected a count, found abc$' "text for a count"

dir="$(make_program_dir)"
mkdir "$dir/data.txt"
expect_rejected "$dir" '^: it is a folder, not a plain file$' "a folder named data.txt"

dir="$(make_program_dir)"
mkfifo "$dir/data.txt" # opened the usual way, it would wait for a writer
expect_rejected "$dir" '^: it is a pipe, socket or device, not a plain file$' "a FIFO named data.txt"

finish

#!/usr/bin/env bash
# The real program started on a data file it cannot read: it shows an error
# box titled "Hostally" and never its window, prints the file and the fault on
# stderr, exits with status 1, and leaves the file as it was. (A bad line is in
# bad_files.sh; each refusal's words in tst_data_file.)
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

finish

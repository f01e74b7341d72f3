#!/usr/bin/env bash
# The real program started on every kind of data file its loader refuses, on
# a good file cut short at every byte, and on random bytes. A refused file
# ends the program with status 1, an error box and no window, the file and
# line on stderr, and the file untouched; a cut that still holds whole
# records opens the window as usual.
# Usage: bad_files.sh HOSTALLY_BINARY CORPUS_FOLDER
set -uo pipefail
HOSTALLY="$(realpath "$1")"
corpus="$(realpath "$2")"
source "$(dirname "$0")/x_session.sh"
start_x

# Each corpus file is named L<line>_<what>.txt after the line its error names;
# L00 files are refused as a whole, for their encoding, with no line.
for file in "$corpus"/L*.txt; do
  base="$(basename "$file" .txt)"
  line="${base%%_*}"
  line="${line#L}"
  line="$((10#$line))"
  dir="$(make_program_dir "$file")"
  pattern="^:$line: (expected|the file is empty)"
  ((line > 0)) || pattern='^: the file is saved as UTF-16 \("Unicode"\), which Hostally cannot read'
  expect_rejected "$dir" "$pattern" "$base"
done

# A good file cut at every byte. Records: three leagues, then two events.
# A cut leaves the file loadable only inside or just after the count of the
# third or a later record, once at least one digit of it is left (a lone CR
# or the CR LF may follow the last digit).
records=('"North"' 4 '"South"' 0 '"West"' 17 '"Quiz"' -3 '"Relay"' 10)
good="$work/good.txt"
: >"$good"
valid_ends=()
for ((i = 0; i < ${#records[@]}; i += 2)); do
  printf '%s\r\n' "${records[i]}" >>"$good"
  start="$(stat -c %s "$good")"
  count="${records[i + 1]}"
  printf '%s' "$count" >>"$good"
  if ((i >= 4)); then
    for ((k = 1; k <= ${#count}; k++)); do
      [[ "${count:0:k}" =~ [0-9] ]] && valid_ends+=($((start + k)))
    done
    end=$((start + ${#count}))
    valid_ends+=($((end + 1)) $((end + 2)))
  fi
  printf '\r\n' >>"$good"
done
size="$(stat -c %s "$good")"
for ((n = 0; n < size; n++)); do
  dir="$(make_program_dir)"
  head -c "$n" "$good" >"$dir/data.txt"
  if [[ " ${valid_ends[*]} " == *" $n "* ]]; then
    expect_accepted "$dir" "cut at byte $n loads"
  else
    expect_rejected "$dir" '^:[0-9]+: (expected|the file is empty)' "cut at byte $n"
  fi
done
dir="$(make_program_dir "$good")"
expect_accepted "$dir" "whole file loads"

# Random bytes from a fixed seed, so every run tries the same files.
for seed in $(seq 1 20); do
  dir="$(make_program_dir)"
  awk -v seed="$seed" 'BEGIN { srand(seed); n = 1 + int(rand() * 300);
    for (i = 0; i < n; i++) printf "%c", 1 + int(rand() * 255) }' >"$dir/data.txt"
  expect_rejected "$dir" '^:[0-9]+: expected' "random bytes, seed $seed"
done

finish

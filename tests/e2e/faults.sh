#!/usr/bin/env bash
# Faults while saving that only the real program shows, driven as a user
# would: a real full disk, a failing rename or sync, and the program killed in
# the middle of a save. After each failed save data.txt must be the old file
# byte for byte, with no temporary file beside it, the program still running
# with an error box up and no "Saved" box; once the fault is cleared a second
# save must write the counts the user had. A folder or data.txt that cannot
# be written is said at start-up; a save by root keeps data.txt's owner and
# mode; a save that changes nothing leaves data.txt as it is; an editor's
# save while Hostally writes its log is merged, not overwritten; two windows
# on one data.txt add up, also when one saves while the other's slow disk is
# still taking its save. (The refusals of a
# FIFO, of an unwritable file or folder and of a failed sync are tried on the
# save itself in tst_data_file; Escape and No on the real message boxes in
# tst_main_form.)
# Usage: faults.sh HOSTALLY_BINARY
set -uo pipefail
HOSTALLY="$(realpath "$1")"
source "$(dirname "$0")/x_session.sh"
start_x

old="$work/old.txt"
new="$work/new.txt"
printf '"North"\r\n4\r\n"South"\r\n0\r\n"West"\r\n7\r\n"Quiz"\r\n3\r\n"Relay"\r\n1\r\n' >"$old"
# What the file holds after the events Add on line 0 (Quiz).
printf '"North"\r\n4\r\n"South"\r\n0\r\n"West"\r\n7\r\n"Quiz"\r\n4\r\n"Relay"\r\n1\r\n' >"$new"

# Starts the program in folder $1, through the command given after it (if
# any). Sets launcher (our child) and app (the program's pid).
start_app() {
  local dir=$1
  shift
  # stderr goes beside the folder: on the full disk it could not be written.
  "$@" "$dir/hostally" 2>"$dir.stderr" &
  launcher=$!
  app=""
  for _ in $(seq 100); do
    app="$(pgrep -f "^$dir/hostally\$" | head -1)"
    [[ -n "$app" ]] && break
    sleep 0.05
  done
}

# Starts the program as start_app does and waits for its window; sets main.
launch() {
  start_app "$@"
  main="$( [[ -n "$app" ]] && wait_window "$app" NORMAL 15)"
}

# Adds 1 to the first event, as the user would, and chooses File > Save. A
# recovery file that cannot be written is said a second after the Add, once:
# that box is answered first.
add_and_save() {
  local box
  click_event_line "$main" 0
  click_button "$main" events_add
  sleep 1.5
  box="$(wait_window "$app" DIALOG 1)" && press "$box" Return && sleep 0.2
  choose_menu "$main" Save
}

# Checks everything a failed save must leave; appends to problems.
check_failed_save() {
  local dir=$1 box title
  box="$(wait_window "$app" DIALOG 10)"
  title="$( [[ -n "$box" ]] && xdotool getwindowname "$box")"
  [[ -n "$box" ]] || problems+=("no error box")
  [[ "$title" == Hostally ]] || problems+=("box titled '$title', not Hostally")
  [[ -z "$(xdotool search --onlyvisible --name '^Saved$' 2>/dev/null)" ]] || problems+=("Saved shown")
  cmp -s "$dir/data.txt" "$old" || problems+=("data.txt changed")
  local left
  # The recovery file keeps the unsaved counts meanwhile, as it should; the
  # log of saves stays.
  left="$(cd "$dir" && ls -A | grep -vxE 'hostally|data.txt(\.unsaved-[0-9a-f]{8}(\.lock)?|\.log-[0-9a-f]{8})?|filler|strace.log' || true)"
  [[ -z "$left" ]] || problems+=("left behind: $left")
  kill -0 "$app" 2>/dev/null || problems+=("program ended")
  grep -qF "hostally: $dir/data.txt: " "$dir.stderr" || problems+=("no error on stderr")
  [[ -n "$box" ]] && press "$box" Return
  sleep 0.2
}

# After a save that must go through: expect "Saved" and the new bytes in
# folder $1, then Quit with nothing unsaved ends the program with status 0.
# $2 names the step in problems.
expect_saved_then_quit() {
  local dir=$1 step=$2 box
  box="$(wait_title Saved 10)"
  [[ -n "$box" ]] || problems+=("$step: no Saved box")
  [[ -n "$box" ]] && press "$box" Return
  sleep 0.2
  cmp -s "$dir/data.txt" "$new" || problems+=("$step: data.txt is not the user's counts")
  choose_menu "$main" Quit
  wait_exit "$launcher" 10
  [[ "$exit_status" == 0 ]] || problems+=("quit: exit status $exit_status")
  [[ "$exit_status" == running ]] && kill -9 "$app" 2>/dev/null
}

# After the fault is cleared: save again, as expect_saved_then_quit says.
check_second_save() {
  choose_menu "$main" Save
  expect_saved_then_quit "$1" "second save"
}

# --- The disk is full ---------------------------------------------------------
problems=()
if [[ $(id -u) -ne 0 ]]; then
  skip "full disk: mounting a tmpfs needs root"
else
  dir="$(mktemp -d "$work/full.XXXXXX")"
  # Room for the program and its file, and little more.
  room=$(($(stat -c %s "$HOSTALLY") / 1024 + 256))
  if ! mount -t tmpfs -o "size=${room}k,mode=755" tmpfs "$dir" 2>/dev/null; then
    skip "full disk: cannot mount a tmpfs here"
  else
    cp "$HOSTALLY" "$dir/hostally"
    cp "$old" "$dir/data.txt"
    launch "$dir"
    dd if=/dev/zero of="$dir/filler" bs=4k 2>/dev/null
    # Save at once after the Add: the failed save says, in one box, that
    # nothing keeps the counts but the window, and no second box follows.
    click_event_line "$main" 0
    click_button "$main" events_add
    choose_menu "$main" Save
    sleep 2.5
    boxes="$(windows_of "$app" DIALOG | wc -l)"
    [[ "$boxes" == 1 ]] || problems+=("$boxes boxes for one full disk")
    grep -q "^hostally: $dir/data.txt: cannot write the file" "$dir.stderr" || problems+=("the save's fault not said")
    ! grep -q "^hostally: $dir/data.txt.unsaved" "$dir.stderr" || problems+=("the recovery file's fault said on its own")
    check_failed_save "$dir"
    rm -f "$dir/filler"
    # Written once there is room, with no new change to prompt it.
    sleep 2.5
    recovery="$(ls "$dir"/data.txt.unsaved-* 2>/dev/null | grep -v lock | head -1)"
    grep -q '^line E 0 1 3 4 Quiz' <(tr -d '\r' <"$recovery" 2>/dev/null) ||
      problems+=("the recovery file not written once there was room")
    check_second_save "$dir"
    umount -l "$dir"
    report "full disk" "$dir.stderr"
  fi
fi

# --- The folder, or the file, cannot be written ----------------------------------
# Root writes anywhere, so as root the program runs as nobody. The checkout
# may sit in a private folder: nobody works in the scratch folder and reads
# the sanitizer's files from copies there.
as_user=()
if [[ $(id -u) -eq 0 ]]; then
  runtime="$(mktemp -d "$work/runtime-nobody.XXXXXX")"
  chown 65534:65534 "$runtime"
  chmod 700 "$runtime"
  mapfile -t sanitizer_env < <(sanitizer_env_for_others)
  as_user=(env -C "$runtime" XDG_RUNTIME_DIR="$runtime" HOME="$runtime" "${sanitizer_env[@]}"
    setpriv --reuid=65534 --regid=65534 --clear-groups)
fi
owner="$(id -u)"
[[ $(id -u) -eq 0 ]] && owner=65534

# Start-up says so, once, over the window, before anything is counted. (The failed
# save itself is tst_data_file's saveRefusedNamesTheCause, and what the window
# does after a failed save, tst_main_form's saveFailureKeepsCounts.)
for fault in folder file; do
  problems=()
  dir="$(make_program_dir "$old")"
  if [[ $fault == folder ]]; then
    chown "$owner" "$dir/data.txt"
    chmod 644 "$dir/data.txt"
    chmod 555 "$dir"
    said="the folder $dir cannot be written: Permission denied"
  else
    chown "$owner" "$dir"
    chmod 444 "$dir/data.txt"
    said="$dir/data.txt: the file cannot be written: Permission denied"
  fi
  start_app "$dir" "${as_user[@]}"
  main="$( [[ -n "$app" ]] && wait_window "$app" NORMAL 15)"
  [[ -n "$main" ]] || problems+=("no window")
  box="$( [[ -n "$app" ]] && wait_window "$app" DIALOG 15)"
  [[ -n "$box" && "$(xdotool getwindowname "$box")" == Hostally ]] || problems+=("no box at start-up")
  grep -qxF "hostally: $said" "$dir.stderr" || problems+=("start-up did not say: $said")
  [[ -n "$box" ]] && press "$box" Return
  [[ -n "$app" ]] && kill -9 "$app"
  wait_exit "$launcher" 10
  chmod 755 "$dir"
  report "the $fault cannot be written: said at start-up" "$dir.stderr"
done

# --- A save by root keeps the file's owner and write protection ----------------------
# The save writes a new file: it must be the user's, or the user's own saves
# fail from then on, and stay read-only if it was.
problems=()
if [[ $(id -u) -ne 0 ]]; then
  skip "save by root: needs root"
else
  dir="$(make_program_dir "$old")"
  chown 65534:65534 "$dir/data.txt"
  chmod 444 "$dir/data.txt"
  launch "$dir"
  add_and_save
  expect_saved_then_quit "$dir" "save by root"
  [[ "$(stat -c %u:%g:%a "$dir/data.txt")" == 65534:65534:444 ]] ||
    problems+=("data.txt now $(stat -c %U:%G:%a "$dir/data.txt")")
  report "a save by root keeps data.txt's owner and write protection" "$dir.stderr"
fi

# --- The final rename, or every sync, fails ----------------------------------------
# strace counts each thread's calls: the recovery file's thread renames it
# in a second after the Add; the window's thread renames its log of saves,
# then the new data.txt, its second. A disk that fails its syncs never gets
# "Saved".
for fault in rename sync; do
  problems=()
  dir="$(make_program_dir "$old")"
  if [[ $fault == rename ]]; then
    calls=rename,renameat,renameat2 inject="$calls:error=EIO:when=2"
    expected='rename(".*/data.txt.new-[^"]*", ".*/data.txt") = -1 EIO'
  else
    calls=fsync,fdatasync inject="fsync,fdatasync:error=EIO"
    expected="hostally: $dir/data.txt: cannot write the file to the disk: Input/output error"
  fi
  # LeakSanitizer cannot run under ptrace; sanitizer builds skip it here.
  launch "$dir" strace -E ASAN_OPTIONS=detect_leaks=0 -f -qq -o "$dir/strace.log" -e trace="$calls" \
    -e inject="$inject"
  add_and_save
  check_failed_save "$dir"
  grep -q "$expected" "$dir/strace.log" "$dir.stderr" || problems+=("not the failure expected: $expected")
  if [[ $fault == rename ]]; then
    check_second_save "$dir"
  else
    kill -9 "$app"
    wait_exit "$launcher" 10
  fi
  report "$fault fails: no Saved, data.txt as it was" "$dir.stderr"
done

# --- Killed in the middle of a save ---------------------------------------------
# The rename is held for 3 seconds; the program is killed once the new
# content is complete in the temporary file, before it replaces data.txt.
problems=()
dir="$(make_program_dir "$old")"
# LeakSanitizer cannot run under ptrace; sanitizer builds skip it here.
launch "$dir" strace -E ASAN_OPTIONS=detect_leaks=0 -f -qq -o "$dir/strace.log" -e trace=rename \
  -e inject=rename:delay_enter=3000000
add_and_save
size="$(stat -c %s "$new")"
held=""
for _ in $(seq 100); do
  temp="$(ls "$dir" | grep -E '^data\.txt\.new-' | head -1)"
  if [[ -n "$temp" && "$(stat -c %s "$dir/$temp" 2>/dev/null)" == "$size" ]]; then held=1; break; fi
  sleep 0.05
done
sleep 0.3
kill -9 "$app"
wait_exit "$launcher" 10
[[ -n "$held" ]] || problems+=("never saw the complete temporary file")
cmp -s "$dir/data.txt" "$old" || problems+=("data.txt is not the old file")
report "killed before the rename: data.txt is the old file" "$dir.stderr"

# The same kill just after the save finished leaves exactly the new file.
problems=()
dir="$(make_program_dir "$old")"
launch "$dir"
add_and_save
box="$(wait_title Saved 10)"
[[ -n "$box" ]] || problems+=("no Saved box")
kill -9 "$app"
wait_exit "$launcher" 10
cmp -s "$dir/data.txt" "$new" || problems+=("data.txt is not the new file")
report "killed after the save: data.txt is the new file" "$dir.stderr"

# --- A save that changes nothing -----------------------------------------------
# Save with no count changed, and after an Add and a Remove: data.txt stays
# the very file it was, its inode and time kept, so a sync program sees no
# change; "Saved" all the same.
problems=()
dir="$(make_program_dir "$old")"
launch "$dir"
before="$(stat -c %i:%Y.%y "$dir/data.txt")"
sleep 1.1 # a rewrite would show in the time
choose_menu "$main" Save
box="$(wait_title Saved 10)" && press "$box" Return || problems+=("no Saved")
click_event_line "$main" 0
click_button "$main" events_add
click_button "$main" events_remove
choose_menu "$main" Save
box="$(wait_title Saved 10)" && press "$box" Return || problems+=("no Saved after Add and Remove")
[[ "$(stat -c %i:%Y.%y "$dir/data.txt")" == "$before" ]] || problems+=("data.txt was replaced")
cmp -s "$dir/data.txt" "$old" || problems+=("data.txt changed")
kill -9 "$app"
wait_exit "$launcher" 10
report "a save that changes nothing leaves data.txt as it is" "$dir.stderr"

# --- An editor saves data.txt while Hostally writes its log -----------------------
# The log's rename, the window's first, is held for 2 seconds, and an editor
# adds 2 to Relay meanwhile: the save looks at data.txt once more just
# before its own rename, and merges again.
problems=()
dir="$(make_program_dir "$old")"
launch "$dir" strace -E ASAN_OPTIONS=detect_leaks=0 -f -qq -o "$dir/strace.log" -e trace=rename \
  -e inject=rename:delay_enter=2000000:when=1
click_event_line "$main" 0
click_button "$main" events_add
choose_menu "$main" Save
for _ in $(seq 40); do grep -q 'data.txt.log-[0-9a-f]*.new-' "$dir/strace.log" && break; sleep 0.05; done
sed -i 's/^1\r$/3\r/' "$dir/data.txt"
box="$(wait_title Saved 15)" && press "$box" Return || problems+=("no Saved")
printf '"North"\r\n4\r\n"South"\r\n0\r\n"West"\r\n7\r\n"Quiz"\r\n4\r\n"Relay"\r\n3\r\n' | cmp -s - "$dir/data.txt" ||
  problems+=("data.txt: $(tr '\r\n' '  ' <"$dir/data.txt")")
grep -q 'rename(".*data.txt.log-[0-9a-f]*.new-' "$dir/strace.log" || problems+=("no log written")
kill -9 "$app"
wait_exit "$launcher" 10
report "an editor's save while the log is written is merged" "$dir.stderr"

# --- Two windows on one data.txt --------------------------------------------------
# Each counts and saves in turn: every save adds its window's counts to what
# the other saved, with no question, and both then quit at once.
problems=()
dir="$(make_program_dir "$old")"
launch "$dir"
first=$main first_launcher=$launcher
"$dir/hostally" 2>>"$dir.stderr" &
second_launcher=$!
second="$(wait_window "$second_launcher" NORMAL 15)"
sleep 2.5 # side by side, once the second has centred itself over the first
xdotool windowmove "$first" 0 0 windowmove "$second" 500 0
for turn in "$first 0 3" "$second 1 1" "$first 0 1"; do # window, event line, Adds
  read -r window line adds <<<"$turn"
  xdotool windowactivate --sync "$window" >/dev/null 2>&1
  click_event_line "$window" "$line"
  for _ in $(seq "$adds"); do click_button "$window" events_add; done
  choose_menu "$window" Save
  box="$(wait_title Saved 10)" && press "$box" Return || problems+=("$turn: no Saved")
done
printf '"North"\r\n4\r\n"South"\r\n0\r\n"West"\r\n7\r\n"Quiz"\r\n7\r\n"Relay"\r\n2\r\n' | cmp -s - "$dir/data.txt" ||
  problems+=("data.txt: $(tr '\r\n' '  ' <"$dir/data.txt")")
choose_menu "$first" Quit
choose_menu "$second" Quit
for l in "$first_launcher" "$second_launcher"; do
  wait_exit "$l" 10
  [[ "$exit_status" == 0 ]] || problems+=("quit: exit status $exit_status")
  [[ "$exit_status" == running ]] && kill -9 "$l" 2>/dev/null
done
report "two windows on one data.txt: both windows' counts add up" "$dir.stderr"

# --- Two windows save at once, one of them on a slow disk ------------------------
# Every sync of the first takes 1.5 s, as on a USB stick or a network share.
# Both count Quiz; the second saves while the first is still saving, waits
# for it, and adds its count to what the first saved. An editor that ignores
# the lock changes Relay while the first is syncing its new file: the first
# merges again. The folder is synced after the rename, so "Saved" outlasts a
# power cut.
problems=()
dir="$(make_program_dir "$old")"
launch "$dir" strace -E ASAN_OPTIONS=detect_leaks=0 -f -qq -o "$dir/strace.log" \
  -e trace=fsync,fdatasync,rename,renameat,renameat2 -e inject=fsync,fdatasync:delay_enter=1500000
slow=$app slow_main=$main slow_launcher=$launcher
"$dir/hostally" 2>>"$dir.stderr" &
fast_launcher=$!
fast_main="$(wait_window "$fast_launcher" NORMAL 15)"
sleep 2.5 # side by side, once the second has centred itself over the first
xdotool windowmove "$slow_main" 0 0 windowmove "$fast_main" 500 0
for window in "$slow_main" "$fast_main"; do
  xdotool windowactivate --sync "$window" >/dev/null 2>&1
  click_event_line "$window" 0
  click_button "$window" events_add
done
choose_menu "$slow_main" Save
sleep 1 # the first now waits on its disk
choose_menu "$fast_main" Save
sleep 2.5 # the first has read data.txt and syncs what it merged
sed -i 's/^1\r$/3\r/' "$dir/data.txt"
for pid in "$slow" "$fast_launcher"; do
  box="$(wait_window "$pid" DIALOG 60)"
  [[ -n "$box" && "$(xdotool getwindowname "$box")" == Saved ]] || problems+=("$pid: no Saved")
  [[ -n "$box" ]] && press "$box" Return
done
printf '"North"\r\n4\r\n"South"\r\n0\r\n"West"\r\n7\r\n"Quiz"\r\n5\r\n"Relay"\r\n3\r\n' | cmp -s - "$dir/data.txt" ||
  problems+=("data.txt: $(tr '\r\n' '  ' <"$dir/data.txt")")
awk '/rename/ { renamed = 1 } renamed && /fsync\(.*DELAYED/ { synced = 1 } END { exit !synced }' \
  "$dir/strace.log" || problems+=("no sync after the rename")
kill "$slow" "$fast_launcher"
wait "$slow_launcher" "$fast_launcher" 2>/dev/null
report "a save during another's slow save: both counts kept" "$dir.stderr"

finish

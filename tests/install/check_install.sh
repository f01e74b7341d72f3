#!/usr/bin/env bash
# Installs the built project into a scratch prefix and checks the result: one
# folder with the program, the example data.txt and the icon; a desktop entry
# that validates and names the program; the icon where menus look; no search
# path into the build tree; a user's data.txt kept by a second install; and a
# program folder that still runs, on the data.txt beside it, once moved. Also
# a link in PREFIX/bin running it on the data.txt beside its real file; and,
# first and last, a list of every installed file but data.txt, to uninstall.
# Usage: check_install.sh CMAKE_COMMAND BUILD_DIR SOURCE_DIR
set -uo pipefail
cmake="$1"
build="$2"
source="$3"

passed=0
failed=0
check() { # description, then a command that must succeed
  local what=$1
  shift
  if "$@"; then passed=$((passed + 1)); else failed=$((failed + 1)); echo "FAIL: $what"; fi
}

work="$(mktemp -d /tmp/hostally-install.XXXXXX)"
pids=()
trap 'for p in "${pids[@]}"; do kill "$p" 2>/dev/null; done; rm -rf "$work"' EXIT
# A space and a percent sign, so the desktop entry's quoting is exercised.
prefix="$work/pre fix 100%"
dir="$prefix/lib/hostally"
entry="$prefix/share/applications/hostally.desktop"

install() { "$cmake" --install "$build" --prefix "$prefix" >"$work/install.log" 2>&1; }

check "first install" install
check "program installed" test -x "$dir/hostally"
check "example data.txt installed" cmp -s "$dir/data.txt" "$source/app/data.txt"
check "icon beside the program" cmp -s "$dir/hostally.png" "$source/app/hostally.png"
check "icon for menus" cmp -s "$prefix/share/icons/hicolor/48x48/apps/hostally.png" \
  "$source/app/hostally.png"
check "scalable icon for menus" cmp -s "$prefix/share/icons/hicolor/scalable/apps/hostally.svg" \
  "$source/app/hostally.svg"
check "folder holds only program, data.txt and icon" \
  test "$(ls "$dir" | tr '\n' ' ')" == "data.txt hostally hostally.png "

check "desktop entry validates" desktop-file-validate "$entry"
exec_line="$(grep '^Exec=' "$entry")"
check "Exec quotes the path and doubles %" test "$exec_line" == "Exec=\"${dir//%/%%}/hostally\""
check "desktop entry names the icon" grep -qx 'Icon=hostally' "$entry"

no_build_paths() { ! readelf -d "$dir/hostally" | grep -E 'RPATH|RUNPATH' | grep -qF "$build"; }
check "no library search path into the build tree" no_build_paths
all_libraries_found() { ! ldd "$dir/hostally" | grep -q 'not found'; }
check "every shared library found" all_libraries_found

all_but_data_listed() {
  test "$(sort "$build/install_manifest.txt")" == \
    "$(cd / && find "${prefix#/}" \( -type f -o -type l \) | sed 's|^|/|' | sort | grep -vxF "$dir/data.txt")"
}
check "install_manifest.txt lists every installed file but data.txt" all_but_data_listed
check "bin/hostally is a link to the program" \
  test -L "$prefix/bin/hostally" -a "$(readlink -f "$prefix/bin/hostally")" == "$dir/hostally"

# A second install, as after an update, keeps the user's counts.
printf '"Mine"\r\n41\r\n"B"\r\n0\r\n"C"\r\n0\r\n' >"$dir/data.txt"
cp "$dir/data.txt" "$work/mine"
check "second install" install
check "user's data.txt kept" cmp -s "$dir/data.txt" "$work/mine"
check "install says it kept data.txt" grep -qF "Keeping: $dir/data.txt" "$work/install.log"

# The folder moved elsewhere runs there and reads the data.txt beside it.
moved="$work/elsewhere/Hostally"
mkdir -p "$work/elsewhere" "$work/runtime"
chmod 700 "$work/runtime"
cp -r "$dir" "$moved"
export QT_QPA_PLATFORM=offscreen QT_QPA_PLATFORMTHEME= XDG_RUNTIME_DIR="$work/runtime"
# In a UTF-8 locale, as users' desktops are: in the C locale (a root or a
# container with none set) Qt 6.8 says on stderr that it switched to C.UTF-8.
export LC_ALL=C.UTF-8

# Starts program $2 (default: the moved one); prints "running" if it is still
# up after $1 seconds, else its exit status. Its stderr goes to $work/stderr.
run_moved() {
  "${2:-$moved/hostally}" 2>"$work/stderr" &
  local pid=$!
  pids+=("$pid")
  sleep "$1"
  if kill -0 "$pid" 2>/dev/null; then
    kill "$pid"
    wait "$pid" 2>/dev/null
    echo running
  else
    wait "$pid"
    echo $?
  fi
}
state="$(run_moved 2)"
# (The offscreen platform's warning about size hints is no error of Hostally's.)
check "moved program runs on its data.txt ($state, $(cat "$work/stderr"))" \
  test "$state" == running -a -z "$(grep -v propagateSizeHints "$work/stderr")"
# With its data.txt broken, the error names the file in the moved folder.
printf 'not a name\r\n' >"$moved/data.txt"
state="$(run_moved 2)"
check "moved program reads data.txt beside itself ($(cat "$work/stderr"))" \
  grep -qF "hostally: $moved/data.txt:1: expected the name of league 1 of 3" "$work/stderr"

# Started through PREFIX/bin/hostally, the program reads the data.txt beside
# its real file, not beside the link.
printf 'not a name\r\n' >"$dir/data.txt"
state="$(run_moved 2 "$prefix/bin/hostally")"
check "program started through the link reads $dir/data.txt ($(cat "$work/stderr"))" \
  grep -qF "hostally: $dir/data.txt:1: expected the name of league 1 of 3" "$work/stderr"
check "after all, install_manifest.txt still lists every file but data.txt" all_but_data_listed

echo "$passed passed, $failed failed"
((failed == 0))

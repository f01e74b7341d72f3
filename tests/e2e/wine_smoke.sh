#!/usr/bin/env bash
# hostally.exe under Wine on Xvfb, as a Windows user meets it: a GUI program
# with its icon at every size, its manifest and version information, that
# needs no DLL beyond Windows' own; started beside a data.txt, a line
# selected, Add, File > Save ("Saved", the file's CR LF bytes) and Quit; and,
# from a drive's root, a bad data.txt gives the error box and a non-zero exit
# status.
# Usage: wine_smoke.sh HOSTALLY_EXE   (env: WINEPREFIX; SCREENSHOT, a PNG to write)
set -uo pipefail
HOSTALLY="$(realpath "$1")"
source "$(dirname "$0")/x_session.sh"
start_x
# hostally.exe has only Windows' platform plugin.
unset QT_QPA_PLATFORM QT_QPA_PLATFORMTHEME
export WINEDEBUG="${WINEDEBUG:--all}" WINEDLLOVERRIDES="mscoree,mshtml="
prefix="${WINEPREFIX:-$HOME/.wine}"

# --- The file itself -------------------------------------------------------------
headers="$(x86_64-w64-mingw32-objdump -p "$HOSTALLY")"
if grep -q '^Subsystem.*(Windows GUI)' <<<"$headers"; then
  pass "GUI subsystem"
else
  fail "GUI subsystem: $(grep '^Subsystem' <<<"$headers")"
fi
# Windows' own libraries only: the system, its C runtime and graphics.
system_dlls='advapi32|api-ms-win-[a-z0-9-]+|authz|cfgmgr32|comdlg32|d2d1|d3d11|d3d9|dwmapi|dwrite|dxgi|gdi32|imm32|kernel32|mpr|msvcrt|netapi32|ntdll|ole32|oleaut32|rpcrt4|setupapi|shcore|shell32|shlwapi|user32|userenv|uxtheme|version|winmm|ws2_32|wtsapi32'
foreign="$(sed -n 's/^\tDLL Name: //p' <<<"$headers" | tr 'A-Z' 'a-z' | sed 's/\.dll$//' | sort -u |
  grep -vxE "$system_dlls" | tr '\n' ' ')"
if [[ -z "$foreign" ]]; then pass "imports only Windows' DLLs"; else fail "imports $foreign"; fi

# The icon: the checked-in one, at every size Explorer asks for, 256 as PNG.
wrestool -x -t group_icon -o "$work/icon.ico" "$HOSTALLY" 2>/dev/null
source_dir="$(dirname "$0")/../.."
problems=()
sizes="$(icotool -l "$work/icon.ico" 2>/dev/null | sed -n 's/.*--width=\([0-9]*\).*/\1/p' | xargs)"
[[ "$sizes" == "16 24 32 48 256" ]] || problems+=("sizes '$sizes'")
for i in 1 2 3 4 5; do
  cmp -s <(icotool -x -i $i -o - "$work/icon.ico" 2>/dev/null) \
    <(icotool -x -i $i -o - "$source_dir/app/hostally.ico" 2>/dev/null) || problems+=("image $i differs")
done
pngs=""
for n in $(wrestool -l -t 3 "$HOSTALLY" | sed -n 's/.*--name=\([0-9]*\).*/\1/p'); do
  wrestool -x --raw -t 3 --name="$n" "$HOSTALLY" >"$work/image"
  if head -c 4 "$work/image" | grep -q PNG; then pngs+="$(identify -format %w "png:$work/image") "; fi
done
[[ "$pngs" == "256 " ]] || problems+=("PNG images of widths '$pngs'")
report "icon at 16, 24, 32, 48 and 256 pixels"

# The manifest: well-formed, no elevation, Windows 10 and 11, Qt's DPI
# awareness, the system's code page.
problems=()
wrestool -x --raw -t 24 --name=1 "$HOSTALLY" >"$work/manifest" 2>/dev/null
python3 -c 'import sys, xml.dom.minidom; xml.dom.minidom.parse(sys.argv[1])' "$work/manifest" 2>/dev/null ||
  problems+=("missing or not XML")
for want in 'level="asInvoker"' '{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}' '>true/pm<' '>PerMonitorV2, PerMonitor<'; do
  grep -qF "$want" "$work/manifest" || problems+=("no $want")
done
grep -q activeCodePage "$work/manifest" && problems+=("sets a code page")
report "application manifest"

version="$(sed -n 's/^project(Hostally VERSION \([0-9.]*\).*/\1/p' "$source_dir/CMakeLists.txt")"
wrestool -x --raw -t version "$HOSTALLY" 2>/dev/null | iconv -c -f UTF-16LE -t UTF-8 |
  tr -c '[:print:]' '\n' | grep -v '^.\?$' >"$work/version"
problems=()
for pair in FileDescription=Hostally ProductName=Hostally "FileVersion=$version" \
  "ProductVersion=$version" "LegalCopyright=Copyright (C) 20[0-9][0-9] *"; do
  value="$(grep -x -A1 "${pair%%=*}" "$work/version" | sed -n 2p)"
  # shellcheck disable=SC2053 # the expected value is a pattern
  [[ "$value" == ${pair#*=} ]] || problems+=("${pair%%=*} '$value'")
done
report "version information $version"

# --- Using it --------------------------------------------------------------------
# Starts hostally.exe as given ($2 on, a Windows or Unix path) with folder $1's
# stderr file; sets pid (the Wine launcher, whose status is the program's).
start_exe() {
  local dir=$1
  shift
  wine "$@" 2>"$dir.stderr" &
  pid=$!
}

dir="$(mktemp -d "$work/prog.XXXXXX")"
cp "$HOSTALLY" "$dir/hostally.exe"
printf '"North"\r\n4\r\n"South"\r\n0\r\n"West"\r\n7\r\n"Quiz"\r\n3\r\n"Relay"\r\n1\r\n' >"$dir/data.txt"
printf '"North"\r\n4\r\n"South"\r\n0\r\n"West"\r\n7\r\n"Quiz"\r\n4\r\n"Relay"\r\n1\r\n' >"$work/expected"
problems=()
start_exe "$dir" "$dir/hostally.exe"
# A new Wine prefix takes several seconds to set itself up on the first start.
main="$(wait_title Hostally 90)"
if [[ -n "$main" ]]; then
  sleep 1
  if [[ -n "${SCREENSHOT:-}" ]]; then import -window "$main" "$SCREENSHOT"; fi
  click_event_line "$main" 0
  click_button "$main" events_add
  choose_menu "$main" Save
  box="$(wait_title Saved 15)"
  [[ -n "$box" ]] || problems+=("no Saved box")
  [[ -n "$box" ]] && press "$box" Return
  sleep 0.5
  cmp -s "$dir/data.txt" "$work/expected" || problems+=("data.txt: $(od -c "$dir/data.txt" | head -5)")
  choose_menu "$main" Quit
else
  problems+=("no window")
fi
wait_exit "$pid" 20
[[ "$exit_status" == 0 ]] || problems+=("exit status $exit_status")
[[ "$exit_status" == running ]] && kill -9 "$pid"
report "select, Add, Save, Quit" "$dir.stderr"

# A program at a drive's root reads "H://data.txt", which Windows accepts;
# messages show it as H:\data.txt.
dir="$(mktemp -d "$work/root.XXXXXX")"
cp "$HOSTALLY" "$dir/hostally.exe"
printf '"North"\r\n4\r\n"South"\r\nlots\r\n"West"\r\n7\r\n' >"$dir/data.txt"
drive="$prefix/dosdevices/h:"
rm -f "$drive"
ln -s "$dir" "$drive"
problems=()
start_exe "$dir" 'h:\hostally.exe'
box="$(wait_title Hostally 60)"
[[ -n "$box" ]] || problems+=("no error box")
[[ -n "$box" ]] && press "$box" Return
wait_exit "$pid" 20
[[ "$exit_status" != 0 && "$exit_status" != running ]] || problems+=("exit status $exit_status")
grep -qiF 'hostally: h:\data.txt:4: expected a count, found lots' "$dir.stderr" ||
  problems+=("no error naming h:\data.txt")
[[ "$exit_status" == running ]] && kill -9 "$pid"
rm -f "$drive"
report "bad data.txt at a drive's root" "$dir.stderr"

finish

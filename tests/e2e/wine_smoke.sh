#!/usr/bin/env bash
# hostally.exe as Windows sees it: a GUI program with its icon at every size,
# its manifest and version information, needing no DLL beyond Windows' own.
# (wine_in_use.sh runs it under Wine: select, Add, Save, Quit.)
# Usage: wine_smoke.sh HOSTALLY_EXE VERSION
set -uo pipefail
HOSTALLY="$(realpath "$1")"
source "$(dirname "$0")/x_session.sh"
source_dir="$(dirname "$0")/../.."
version="$2"

# The icon: the checked-in one's images, at every size Explorer asks for, 256 as PNG.
problems=()
wrestool -x -t group_icon -o "$work/hostally.ico" "$HOSTALLY" 2>/dev/null
sizes="$(icotool -l "$work/hostally.ico" | sed -n 's/.*--width=\([0-9]*\).*/\1/p' | xargs)"
[[ "$sizes" == "16 24 32 48 256" ]] || problems+=("sizes '$sizes'")
mkdir "$work/exe" "$work/src"
icotool -x -o "$work/exe" "$work/hostally.ico" && icotool -x -o "$work/src" "$source_dir/app/hostally.ico" &&
  diff -r "$work/exe" "$work/src" >/dev/null || problems+=("images not those of app/hostally.ico")
pngs="$(for n in $(wrestool -l -t 3 "$HOSTALLY" | sed -n 's/.*--name=\([0-9]*\).*/\1/p'); do
  wrestool -x --raw -t 3 --name="$n" "$HOSTALLY" | identify -format '%m %w\n' - 2>/dev/null
done | sed -n 's/^PNG //p' | xargs)"
[[ "$pngs" == 256 ]] || problems+=("PNG images of widths '$pngs'")

# A GUI program importing Windows' own libraries only (the system, its C
# runtime and graphics); its manifest well-formed, with no elevation, Windows
# 10 and 11, Qt's DPI awareness and the system's code page; its version.
headers="$(x86_64-w64-mingw32-objdump -p "$HOSTALLY")"
grep -q '^Subsystem.*(Windows GUI)' <<<"$headers" || problems+=("$(grep '^Subsystem' <<<"$headers")")
system_dlls='advapi32|api-ms-win-[a-z0-9-]+|authz|cfgmgr32|comdlg32|d2d1|d3d11|d3d9|dwmapi|dwrite|dxgi|gdi32|imm32|kernel32|mpr|msvcrt|netapi32|ntdll|ole32|oleaut32|rpcrt4|setupapi|shcore|shell32|shlwapi|user32|userenv|uxtheme|version|winmm|ws2_32|wtsapi32'
foreign="$(sed -n 's/^\tDLL Name: //p' <<<"$headers" | grep -vxiE "($system_dlls)\.dll" | sort -u | xargs)"
[[ -z "$foreign" ]] || problems+=("imports $foreign")
wrestool -x --raw -t 24 --name=1 "$HOSTALLY" >"$work/manifest" 2>/dev/null
python3 -c 'import sys, xml.dom.minidom; xml.dom.minidom.parse(sys.argv[1])' "$work/manifest" 2>/dev/null ||
  problems+=("manifest missing or not XML")
for want in 'level="asInvoker"' '{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}' '>true/pm<' '>PerMonitorV2, PerMonitor<'; do
  grep -qF "$want" "$work/manifest" || problems+=("no $want")
done
grep -q activeCodePage "$work/manifest" && problems+=("sets a code page")
wrestool -x --raw -t version "$HOSTALLY" 2>/dev/null | iconv -c -f UTF-16LE -t UTF-8 |
  tr -c '[:print:]' '\n' | grep -v '^.\?$' >"$work/version"
for pair in FileDescription=Hostally ProductName=Hostally "FileVersion=$version" \
  "ProductVersion=$version" "LegalCopyright=Copyright (C) 20[0-9][0-9] *"; do
  # shellcheck disable=SC2053 # the expected value is a pattern
  [[ "$(grep -x -A1 "${pair%%=*}" "$work/version" | sed -n 2p)" == ${pair#*=} ]] || problems+=("no $pair")
done
report "hostally.exe: GUI, Windows' DLLs only, icon at 16 to 256 pixels, manifest, version $version"
finish

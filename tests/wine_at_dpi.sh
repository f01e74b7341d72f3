#!/usr/bin/env bash
# Runs a Windows program under Wine at a display scale, as Windows' own
# setting gives it: the Wine prefix's LogPixels is $1 for the run (120 for
# 125 %, 144 for 150 %, 168 for 175 %) and is put back afterwards.
# Usage: wine_at_dpi.sh DPI PROGRAM.exe [ARGS...]
set -u
dpi=$1
shift
key='HKCU\Control Panel\Desktop'
restore() {
  wine reg delete "$key" /v LogPixels /f >/dev/null 2>&1
  wineserver -w
}
trap restore EXIT
wine reg add "$key" /v LogPixels /t REG_DWORD /d "$dpi" /f >/dev/null 2>&1
# A new Wine session reads the setting when it starts.
wineserver -w
wine "$@"

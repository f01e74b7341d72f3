#!/usr/bin/env bash
# scripts/screenshot and the e2e harness start Xvfb on a display of their
# own: with Xvfb working, a screenshot of Hostally; with an Xvfb that cannot
# start, both stop at once and show Xvfb's own error.
# Usage: display.sh HOSTALLY
set -uo pipefail
HOSTALLY="$(realpath "$1")"
here="$(cd "$(dirname "$0")" && pwd)"
source "$here/x_session.sh"
screenshot="$here/../../scripts/screenshot"

problems=()
"$screenshot" "$work/shot.png" "$HOSTALLY" >"$work/out" 2>&1 || problems+=("failed: $(cat "$work/out")")
width="$(identify -format '%w' "$work/shot.png" 2>/dev/null)"
((${width:-0} >= 300 && width < 1024)) || problems+=("picture ${width:-no} pixels wide, not a window")
report "screenshot on a display of its own"

# An Xvfb that fails the way a real one does: its screen cannot be made.
mkdir "$work/broken"
printf '#!/bin/sh\nexec %s "$@" -screen 0 10x10x7\n' "$(command -v Xvfb)" >"$work/broken/Xvfb"
chmod +x "$work/broken/Xvfb"
for who in screenshot start_x; do
  problems=() start=$SECONDS command=("$screenshot" "$work/none.png" "$HOSTALLY")
  [[ $who == start_x ]] && command=(bash -c 'source "$0/x_session.sh" && start_x' "$here")
  PATH="$work/broken:$PATH" timeout 60 "${command[@]}" >"$work/out" 2>&1 && problems+=("succeeded")
  ((SECONDS - start < 15)) || problems+=("took $((SECONDS - start)) s")
  grep -q "Couldn't add screen" "$work/out" || problems+=("no Xvfb error in: $(head -c 300 "$work/out")")
  report "$who shows why Xvfb could not start"
done
finish

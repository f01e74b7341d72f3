#!/usr/bin/env bash
# scripts/run installs only what building and running need: none of the test
# tools, and no window manager or session, neither named nor pulled in by
# what it names (when apt's package lists are at hand to tell).
# Usage: check_run_packages.sh SOURCE_DIR
set -uo pipefail
listed="$(bash "$1/scripts/setup" --list "$(sed -n 's|^scripts/setup \([a-z]*\)$|\1|p' "$1/scripts/run")")" || exit 1
closure="$(apt-cache depends --recurse --no-recommends --no-suggests --no-conflicts --no-breaks \
  --no-replaces --no-enhances $listed 2>/dev/null | grep -v '^ ')"
forbidden="$(printf '%s\n' xvfb xauth x11-utils xdotool openbox imagemagick strace clang \
  libclang-rt-dev libbenchmark-dev desktop-file-utils wine
  apt-cache showpkg x-window-manager x-session-manager 2>/dev/null |
  awk '/^Reverse Provides:/ { on = 1; next } /^[A-Z]/ { on = 0 } on && NF { print $1 }')"
found="$(printf '%s\n' "$listed" "$closure" | grep -xF -f <(echo "$forbidden") | sort -u | xargs)"
[[ -z "$found" ]] || { echo "FAIL: scripts/run would install $found"; exit 1; }
echo "PASS: no test tool, window manager or session in ${listed//$'\n'/ }"

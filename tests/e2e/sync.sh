#!/usr/bin/env bash
# Two computers, alpha and beta, each with a machine id of its own, share the
# program's folder through two real Syncthing instances on 127.0.0.1. Saves
# made online add up; saves made while beta was paused leave a conflict copy,
# which the next start merges and removes, telling the user once; the same
# change saved on both while paused is one file to Syncthing, and the next
# start asks and adds the other's counts back. No clock decides anything:
# beta an hour ahead adds up the same. A copy that comes before the log of
# the save that wrote it is left and said, and merged once the log is there.
# Usage: sync.sh HOSTALLY_BINARY
set -uo pipefail
HOSTALLY="$(realpath "$1")"
source "$(dirname "$0")/x_session.sh"
command -v syncthing >/dev/null || { fail "syncthing is not installed: scripts/setup test installs it"; finish; exit; }
shopt -s nullglob
start_x
records() { printf '"North"\r\n4\r\n"South"\r\n0\r\n"West"\r\n7\r\n"Quiz"\r\n%d\r\n"Relay"\r\n%d\r\n' "$1" "$2"; }
records 3 3 >"$work/start.txt"

# --- Two Syncthing instances that reach nothing but each other -----------------
declare -A dir id port
key=hostally-e2e
for s in alpha beta gui_alpha gui_beta; do
  while port[$s]=$((20000 + RANDOM % 40000)); (: <"/dev/tcp/127.0.0.1/${port[$s]}") 2>/dev/null ||
    [[ " ${port[*]} " == *" ${port[$s]} "*" ${port[$s]} "* ]]; do :; done
done
dir[alpha]="$(make_program_dir "$work/start.txt")" # beta's data.txt comes through the sync
dir[beta]="$(make_program_dir)"
for s in alpha beta; do
  mkdir "${dir[$s]}/.stfolder"
  echo /hostally >"${dir[$s]}/.stignore"
  syncthing generate --home="$work/st-$s" --no-default-folder --skip-port-probing >"$work/st-$s.log" 2>&1
  id[$s]="$(grep -om1 '<device id="[^"]*"' "$work/st-$s/config.xml" | cut -d'"' -f2)"
done
# Written anew before the first start, keeping the version this Syncthing
# writes: no discovery, relays, NAT, usage or crash reports, or upgrades.
for s in alpha beta; do
  { head -1 "$work/st-$s/config.xml"
    cat <<EOF
  <folder id="hostally" path="${dir[$s]}" type="sendreceive" rescanIntervalS="3600" fsWatcherEnabled="true" fsWatcherDelayS="1">
    <device id="${id[alpha]}"></device><device id="${id[beta]}"></device><maxConflicts>10</maxConflicts>
  </folder>
  <device id="${id[alpha]}" name="alpha"><address>tcp://127.0.0.1:${port[alpha]}</address></device>
  <device id="${id[beta]}" name="beta"><address>tcp://127.0.0.1:${port[beta]}</address></device>
  <gui enabled="true" tls="false"><address>127.0.0.1:${port[gui_$s]}</address><apikey>$key</apikey></gui>
  <options>
    <listenAddress>tcp://127.0.0.1:${port[$s]}</listenAddress>
    <globalAnnounceEnabled>false</globalAnnounceEnabled><localAnnounceEnabled>false</localAnnounceEnabled>
    <relaysEnabled>false</relaysEnabled><natEnabled>false</natEnabled><urAccepted>-1</urAccepted>
    <crashReportingEnabled>false</crashReportingEnabled><autoUpgradeIntervalH>0</autoUpgradeIntervalH>
    <startBrowser>false</startBrowser><reconnectionIntervalS>1</reconnectionIntervalS>
  </options>
</configuration>
EOF
  } >"$work/st-$s/config.new" && mv "$work/st-$s/config.new" "$work/st-$s/config.xml"
  STNOUPGRADE=1 syncthing serve --no-browser --no-restart --home="$work/st-$s" >>"$work/st-$s.log" 2>&1 &
  x_pids+=("$!") # ended at exit before $work goes
done

# Syncthing's REST API on side $1: method $2, path $3; prints the reply's body.
rest() {
  local fd
  { exec {fd}<>"/dev/tcp/127.0.0.1/${port[gui_$1]}"; } 2>/dev/null || return 1
  printf '%s %s HTTP/1.1\r\nHost: 127.0.0.1\r\nX-API-Key: %s\r\nConnection: close\r\n\r\n' "$2" "$3" "$key" >&"$fd"
  sed '1,/^\r$/d' <&"$fd"
  exec {fd}<&-
}
# Waits up to 30 s until each side has scanned its folder and each holds all
# the other holds, with $1 conflict copies on each side when given.
synced() {
  local s peer ok st
  for _ in $(seq 60); do
    ok=0
    for s in alpha beta; do
      peer=alpha && [[ $s == alpha ]] && peer=beta
      rest $s POST "/rest/db/scan?folder=hostally" >/dev/null
      st="$(rest $s GET /rest/system/connections)$(rest $s GET "/rest/db/completion?folder=hostally")$(
        rest $s GET "/rest/db/completion?folder=hostally&device=${id[$peer]}")"
      st="${st//[$' \n']/}"
      grep -q "\"${id[$peer]}\":{[^}]*\"connected\":true" <<<"$st" &&
        [[ "$st" == *'"completion":100,'*'"completion":100,'* ]] &&
        [[ -z "${1:-}" || $(ls "${dir[$s]}" | grep -c '^data\.sync-conflict-') == "$1" ]] && ((++ok))
    done
    ((ok == 2)) && return 0
    sleep 0.5
  done
  problems+=("not in sync after 30 s: $(ls -A "${dir[alpha]}" | tr '\n' ' ')| $(ls -A "${dir[beta]}" | tr '\n' ' ')")
  return 1
}

# --- Driving the program on each computer -----------------------------------
# A host name and a machine id of its own need root, or a user namespace
# (none in a chroot).
as_root=()
((EUID == 0)) || as_root=(--map-root-user)
for s in alpha beta; do head -c 16 /dev/urandom | od -An -tx1 | tr -d ' \n' >"$work/machine-id-$s"; done
# Starts the program on computer $1, its host name, answering each box with
# Return; the boxes' titles must be $2 (each followed by ";"). Sets pid, main.
# Anything after is the command to start it through (faketime, say).
start_on() {
  local titles
  me=$1
  unshare --uts --mount "${as_root[@]}" sh -c 'for f in /etc/machine-id /var/lib/dbus/machine-id; do
      if [ -e "$f" ]; then mount --bind "$1" "$f" || exit 1; fi
    done; hostname "$0" && shift && exec "$@"' \
    "$1" "$work/machine-id-$1" "${@:3}" "${dir[$1]}/hostally" 2>>"${dir[$1]}.stderr" &
  pid=$!
  main="$(wait_window "$pid" NORMAL 15)"
  [[ -n "$main" ]] || problems+=("$1: no window")
  titles="$(answer_start_up "$pid")"
  [[ "$titles" == "$2" ]] || problems+=("$1: boxes '$titles', not '$2'")
}
# Adds $2 to event line $1 and waits up to 5 s for a recovery file to keep
# $4 for event $3: the window showed $4 - $2.
add_and_check() {
  click_event_line "$main" "$1"
  for _ in $(seq "$2"); do click_button "$main" events_add; done
  for _ in $(seq 25); do
    for f in "${dir[$me]}"/data.txt.unsaved*; do
      [[ $f != *.lock ]] && tr -d '\r' <"$f" | grep -qE "^line E [0-9]+ [0-9]+ -?[0-9]+ $4 $3\$" && return
    done
    sleep 0.2
  done
  problems+=("$me: the window did not show $3 $(($4 - $2))")
}
# Quits after File > Save with $1 "save", with "quit" at once, else answering
# No to saving.
leave() {
  if [[ $1 == save ]]; then
    choose_menu "$main" Save
    box="$(wait_title Saved 10)" && press "$box" Return || problems+=("$me: no Saved")
  fi
  choose_menu "$main" Quit
  [[ $1 == save || $1 == quit ]] || { box="$(wait_title Save 10)" && press "$box" alt+n || problems+=("$me: no Save question"); }
  wait_exit "$pid" 10
  [[ "$exit_status" == 0 ]] || problems+=("$me: exit status $exit_status")
}
# While beta is paused, each turn "computer adds shown" adds to event line $1,
# named $2, and saves; once beta is back, waits for $3 conflict copies. Beta
# runs through the command in $beta_through, when set.
save_offline() {
  local line=$1 name=$2 copies=$3 turn side adds shown through
  shift 3
  rest beta POST /rest/system/pause >/dev/null
  for turn in "$@"; do
    read -r side adds shown <<<"$turn"
    through=()
    [[ $side == beta ]] && through=(${beta_through:-})
    start_on "$side" "" "${through[@]}"
    add_and_check "$line" "$adds" "$name" "$shown"
    leave save
  done
  rest beta POST "/rest/db/scan?folder=hostally" >/dev/null # beta has seen its save before it is back
  rest beta POST /rest/system/resume >/dev/null
  synced "$copies"
}
# Both data.txt must hold Quiz $1 and Relay $2, byte for byte, with no
# conflict copy beside them.
both_hold() {
  records "$1" "$2" >"$work/expected.txt"
  for s in alpha beta; do
    for f in "${dir[$s]}"/data.txt "${dir[$s]}"/data.sync-conflict-*; do
      [[ $f == */data.txt && $(cmp "$f" "$work/expected.txt" 2>&1) == "" ]] ||
        problems+=("$s's ${f##*/}: $(tr '\r\n' '  ' 2>&1 <"$f")")
    done
  done
}

problems=()
synced
both_hold 3 3
start_on alpha ""
add_and_check 0 2 Quiz 5
leave save
synced
start_on beta ""
add_and_check 0 3 Quiz 8
leave save
synced
both_hold 8 3
report "online: each computer's saves add up" "${dir[beta]}.stderr"

problems=()
save_offline 1 Relay 1 "alpha 2 5" "beta 3 6"
start_on alpha "Counts from another computer;"
add_and_check 1 1 Relay 9
leave no
synced
both_hold 8 8
report "offline: the conflict copy is merged at the next start, once" "${dir[alpha]}.stderr"

problems=()
save_offline 0 Quiz 0 "alpha 1 9" "beta 1 9"
start_on alpha "Counts from another computer;"
leave save
synced
both_hold 10 8
report "offline, the same change on both: the sync keeps one file, the next start adds the other" \
  "${dir[alpha]}.stderr"

problems=()
# libfaketime itself, as the faketime command would start a child of its own
# (ahead of AddressSanitizer's runtime in a sanitizer build, which allows it).
ahead=(env LD_PRELOAD="$(dpkg -L libfaketime | grep -m1 '/libfaketime.so.1$')" FAKETIME=+1h
  ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}verify_asan_link_order=0")
beta_through="${ahead[*]}" save_offline 1 Relay 1 "beta 2 10" "alpha 1 9"
start_on beta "Counts from another computer;" "${ahead[@]}"
leave save
synced
both_hold 10 11
report "offline, beta's clock an hour ahead: the copy adds what it holds" "${dir[beta]}.stderr"

problems=()
# Beta's sync program holds the logs back: a copy that no log places yet.
echo 'data.txt.log-*' >>"${dir[beta]}/.stignore"
rest beta POST "/rest/db/scan?folder=hostally" >/dev/null
save_offline 0 Quiz 1 "alpha 1 11" "beta 2 12"
start_on beta "Counts from another computer;"
leave quit
ls "${dir[beta]}" | grep -q '^data\.sync-conflict-' || problems+=("the copy no log places is gone")
echo /hostally >"${dir[beta]}/.stignore"
synced
start_on beta "Counts from another computer;"
leave save
synced
both_hold 13 11
report "a copy before the log that places it: left, then merged once the log is there" \
  "${dir[beta]}.stderr"
finish

#!/usr/bin/env bash
# Removes what earlier test networks left behind when their run.sh died
# without cleaning up (SIGKILL, power cut). Only networks recorded in the state
# folder are touched, and only when the run that owned them is gone.
set -u
state=${QS_TESTNET_STATE:-/run/quillscan-testnet}
[ -d "$state" ] || exit 0

# start time of a pid (field 22 of /proc/PID/stat), empty when it is gone
start_of() {
  local s
  s=$(cat "/proc/$1/stat" 2>/dev/null) || return 0
  s=${s##*) }
  set -- $s
  echo "${20}"
}

# kill_ns NAME: every process inside the namespace, then the namespace
kill_ns() {
  local ns=$1 pids i
  ip netns list 2>/dev/null | awk '{print $1}' | grep -qx "$ns" || return 0
  for i in 1 2 3 4 5; do
    pids=$(ip netns pids "$ns" 2>/dev/null)
    [ -z "$pids" ] && break
    if [ "$i" -lt 4 ]; then kill -TERM $pids 2>/dev/null; else kill -KILL $pids 2>/dev/null; fi
    sleep 0.2
  done
  ip netns del "$ns" 2>/dev/null
}

# Removes the network of one state file (also used by run.sh for its own).
remove_net() {
  local f=$1 pcns="" devns="" work=""
  # shellcheck disable=SC1090
  . "$f" 2>/dev/null
  [ -n "$pcns" ] && kill_ns "$pcns"
  [ -n "$devns" ] && kill_ns "$devns"
  # the run's scratch folder (simulator log, ready file), only where run.sh makes them
  [ "${2:-}" = keep-work ] || case "$work" in /tmp/qs-testnet.*) rm -rf "$work" ;; esac
  rm -f "$f"
}

# --remove FILE [keep-work]: one network (run.sh removes its own this way)
if [ "${1:-}" = "--remove" ]; then
  remove_net "$2" "${3:-}"
  exit 0
fi

for f in "$state"/*.net; do
  [ -e "$f" ] || continue
  owner="" owner_start="" work=""
  . "$f" 2>/dev/null
  if [ -n "$owner" ] && [ "$(start_of "$owner")" = "$owner_start" ] && [ -n "$owner_start" ]; then
    continue  # its run.sh is alive
  fi
  remove_net "$f"
done
exit 0

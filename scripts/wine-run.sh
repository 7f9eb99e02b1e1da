#!/usr/bin/env bash
# Runs a Windows program under Wine in the run's prefix (WINEPREFIX, made once
# per run by run-tests.sh, or its copy for this network namespace). gtest's
# XML output goes to QS_XML_DIR when set.
set -u
exe=$1; shift
wine=$("$(dirname "$0")/wine-loader.sh" "$exe") || exit 125
export WINEDEBUG=${WINEDEBUG:--all}
# Tests run side by side, each in a test network of its own, and one prefix's
# server lives in one network namespace: so each namespace gets its own copy
# of the run's prefix (QS_WINE_TEMPLATE, made once by run-tests.sh), shared by
# every program started in it.
if [ -n "${QS_WINE_TEMPLATE:-}" ] && [ -f "$QS_WINE_TEMPLATE/system.reg" ]; then
  own=$QS_WINE_TEMPLATE-ns$(stat -L -c %i /proc/self/ns/net)
  # Outside a test network several tests share the namespace at once, each
  # with its own X display; a server's desktop lives on one display and goes
  # when that display ends, taking the windows of the others with it. So
  # there the copy is per display as well.
  if [ -z "${QS_NET_PCNS:-}" ] && [ -n "${DISPLAY:-}" ]; then
    d=${DISPLAY#*:}
    own=$own-d${d%%.*}
  fi
  if ! (
    flock -w 120 9 || exit 1
    [ -f "$own/system.reg" ] && exit 0
    rm -rf "$own.part"
    cp -a --reflink=auto "$QS_WINE_TEMPLATE" "$own.part" && mv "$own.part" "$own"
  ) 9>"$own.lock"; then
    echo "wine-run.sh: could not copy the prefix $QS_WINE_TEMPLATE" >&2
    exit 125
  fi
  export WINEPREFIX=$own
  # Tests start the front end dozens of times: a server that stays a minute
  # after the last program saves Wine's start-up of its services each time
  # (the test network's removal ends it sooner).
  server=${wine%/*}/wineserver64
  [ -x "$server" ] || server=${wine%/*}/wineserver32
  [ -x "$server" ] && "$server" -p60 </dev/null >/dev/null 2>&1
fi
# Wine's sockets are made by the prefix's wineserver, in the network namespace
# where that server started. Inside a test network (testnet/run.sh) a server
# left running elsewhere would send from the wrong namespace: wait for it to
# end, and refuse to run while it does not.
foreign_server() {
  local prefix=${WINEPREFIX:-$HOME/.wine} name p cwd here
  [ -d "$prefix" ] || return 1
  # the server works in a directory named after the prefix's device and inode
  name=$(printf 'server-%x-%x' "$(stat -c %d "$prefix")" "$(stat -c %i "$prefix")")
  here=$(readlink /proc/self/ns/net)
  # only the servers themselves: walking every process is slow on a busy machine
  for p in $(pgrep wineserver); do
    cwd=$(readlink "/proc/$p/cwd" 2>/dev/null) || continue
    [ "${cwd##*/}" = "$name" ] || continue
    [ "$(readlink "/proc/$p/ns/net" 2>/dev/null)" = "$here" ] || return 0
  done
  return 1
}
if [ -n "${QS_NET_PCNS:-}" ] && foreign_server; then
  timeout 30 wineserver -w 2>/dev/null
  if foreign_server; then
    echo "wine-run.sh: this prefix's wineserver runs outside the test network; not running $exe" >&2
    exit 125
  fi
fi
if [ -n "${QS_XML_DIR:-}" ]; then export GTEST_OUTPUT="xml:Z:${QS_XML_DIR}/win-$(basename "$exe" .exe).xml"; fi

# Wine starts helper processes (its server, services) that inherit the
# program's output descriptors and can outlive it. Were those the caller's
# pipe, the caller (ctest) would wait for them. So the program writes into
# FIFOs of our own that we copy out, and once it has ended we stop copying.
dir=$(mktemp -d /tmp/qs-wine-run.XXXXXX)
mkfifo "$dir/out" "$dir/err"
cat "$dir/out" & cout=$!
cat "$dir/err" >&2 & cerr=$!
exec 3<&0
"$wine" "$exe" "$@" <&3 >"$dir/out" 2>"$dir/err" 3<&- &
wpid=$!
exec 3<&-
trap 'kill -TERM "$wpid" 2>/dev/null' TERM INT HUP
while :; do
  wait "$wpid"; rc=$?
  kill -0 "$wpid" 2>/dev/null || break  # a trap ended the wait, not the program
done
for _ in $(seq 1 30); do
  kill -0 "$cout" 2>/dev/null || kill -0 "$cerr" 2>/dev/null || break
  sleep 0.1
done
kill "$cout" "$cerr" 2>/dev/null
wait "$cout" "$cerr" 2>/dev/null
rm -rf "$dir"
exit "$rc"

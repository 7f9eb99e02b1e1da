#!/usr/bin/env bash
# Runs a Windows program under Wine in the run's prefix (WINEPREFIX, made once
# per run by run-tests.sh). gtest's XML output goes to QS_XML_DIR when set.
set -u
exe=$1; shift
wine=$("$(dirname "$0")/wine-loader.sh" "$exe") || exit 125
export WINEDEBUG=${WINEDEBUG:--all}
# Wine's sockets are made by the prefix's wineserver, in the network namespace
# where that server started. Inside a test network (testnet/run.sh) a server
# left running elsewhere would send from the wrong namespace: wait for it to
# end, and refuse to run while it does not.
foreign_server() {
  local prefix=${WINEPREFIX:-$HOME/.wine} name p cwd
  [ -d "$prefix" ] || return 1
  # the server works in a directory named after the prefix's device and inode
  name=$(printf 'server-%x-%x' "$(stat -c %d "$prefix")" "$(stat -c %i "$prefix")")
  for p in /proc/[0-9]*; do
    cwd=$(readlink "$p/cwd" 2>/dev/null) || continue
    [ "${cwd##*/}" = "$name" ] || continue
    [ "$(readlink "$p/ns/net" 2>/dev/null)" = "$(readlink /proc/self/ns/net)" ] || return 0
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
exec "$wine" "$exe" "$@"

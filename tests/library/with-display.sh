#!/usr/bin/env bash
# Runs a command with an X display for Windows programs under Wine that open
# real windows: the caller's DISPLAY when set, else a private Xvfb on a free
# display number, stopped afterwards.
set -u
if [ -n "${DISPLAY:-}" ]; then exec "$@"; fi
dir=$(mktemp -d /tmp/qs-display.XXXXXX)
Xvfb -displayfd 3 -nolisten tcp -screen 0 640x480x24 3>"$dir/display" >"$dir/xvfb.log" 2>&1 &
xpid=$!
for _ in $(seq 1 100); do
  [ -s "$dir/display" ] && break
  kill -0 "$xpid" 2>/dev/null || break
  sleep 0.1
done
if [ ! -s "$dir/display" ]; then
  echo "with-display.sh: Xvfb did not start" >&2
  cat "$dir/xvfb.log" >&2
  kill "$xpid" 2>/dev/null
  rm -rf "$dir"
  exit 125
fi
export DISPLAY=:$(head -n1 "$dir/display")
"$@"
rc=$?
kill "$xpid" 2>/dev/null
wait "$xpid" 2>/dev/null
rm -rf "$dir"
exit $rc

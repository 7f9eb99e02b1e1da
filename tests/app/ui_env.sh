# Shared by the UI test and the demo: a virtual display, a Wine server of our
# own in this network namespace, the simulator's control port and the UI
# driver. Source it with exe and driver set (full paths).
work=$(mktemp -d /tmp/qs-ui.XXXXXX)
export WINEPREFIX=${QS_UI_WINEPREFIX:-/tmp/quillscan-ui-wine-$(id -u)} WINEDEBUG=-all
wine=$("$(dirname "${BASH_SOURCE[0]}")/../../scripts/wine-loader.sh" "$exe") || exit 1
wineserver=/usr/lib/wine/wineserver64
[ -x "$wineserver" ] || wineserver=/usr/lib/wine/wineserver32
# One run at a time per prefix: a second Wine server for it would not start.
mkdir -p "$(dirname "$WINEPREFIX")"
exec 8>"$WINEPREFIX.lock"
flock -w 600 8 || { echo "ui: $WINEPREFIX is busy" >&2; exit 1; }
xpid="" spid="" dpid="" cleaned=""
cleanup() {
  [ -n "$cleaned" ] && return
  cleaned=1
  if [ -n "$dpid" ]; then
    echo quit >&"${DRV[1]}" 2>/dev/null
    sleep 0.5
    kill "$dpid" 2>/dev/null
  fi
  if [ -n "$spid" ]; then
    "$wineserver" -k >/dev/null 2>&1
    sleep 0.5
    kill "$spid" 2>/dev/null
  fi
  [ -n "$xpid" ] && kill "$xpid" 2>/dev/null
  wait 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 143' TERM INT

# ---- virtual display: the first free number from 61 ----
for n in $(seq 61 99); do
  [ -e "/tmp/.X$n-lock" ] || [ -e "/tmp/.X11-unix/X$n" ] && continue
  Xvfb ":$n" -screen 0 1024x768x24 -nolisten tcp >"$work/xvfb.log" 2>&1 &
  xpid=$!
  for _ in $(seq 1 50); do [ -e "/tmp/.X11-unix/X$n" ] && break; sleep 0.1; done
  if kill -0 "$xpid" 2>/dev/null && [ -e "/tmp/.X11-unix/X$n" ]; then export DISPLAY=":$n"; break; fi
  xpid=""
done
[ -n "$xpid" ] || { echo "ui_test: no display could be started" >&2; exit 1; }

# ---- a Wine server of our own, in this network namespace ----
# A server started elsewhere would create the program's sockets outside the
# test network: ours is started here, and a second one for the same prefix
# refuses to start, which ends the test.
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  echo "ui_test: making the Wine prefix $WINEPREFIX (once)"
  mkdir -p "$WINEPREFIX"
  "$wineserver" -f -p >"$work/wineserver.log" 2>&1 &
  spid=$!
  sleep 0.5
  $wine wineboot -i >/dev/null 2>&1
else
  "$wineserver" -f -p >"$work/wineserver.log" 2>&1 &
  spid=$!
  sleep 0.5
fi
kill -0 "$spid" 2>/dev/null || { cat "$work/wineserver.log" >&2; echo "ui_test: wineserver did not start" >&2; exit 1; }
[ "$(readlink /proc/$spid/ns/net)" = "$(readlink /proc/self/ns/net)" ] || { echo "ui_test: wineserver outside the test network" >&2; exit 1; }
# A virtual desktop: Wine draws captions and frames itself, as on Windows.
$wine reg add 'HKCU\Software\Wine\Explorer' /v Desktop /d Default /f >/dev/null 2>&1
$wine reg add 'HKCU\Software\Wine\Explorer\Desktops' /v Default /d 1024x768 /f >/dev/null 2>&1
# Display scaling: 100 % unless asked (QS_UI_DPI, 144 for 150 %).
$wine reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d "${QS_UI_DPI:-96}" /f >/dev/null 2>&1
# The desktop process started by reg ran without it: start over.
"$wineserver" -k >/dev/null 2>&1
sleep 1
if ! kill -0 "$spid" 2>/dev/null; then
  "$wineserver" -f -p >"$work/wineserver.log" 2>&1 &
  spid=$!
  sleep 0.5
fi

# ---- simulator control ----
exec 7<>"/dev/tcp/$QS_NET_SIM/$QS_NET_SIM_PORT" || { echo "ui_test: no simulator control port" >&2; exit 1; }
SIMOUT=()
sim() {  # command; lines before OK land in SIMOUT; status 1 on ERR
  SIMOUT=()
  printf '%s\n' "$*" >&7
  local l
  while IFS= read -r -t 10 l <&7; do
    l=${l%$'\r'}
    case "$l" in
      OK) return 0 ;;
      ERR*) echo "sim: $* -> $l" >&2; return 1 ;;
      *) SIMOUT+=("$l") ;;
    esac
  done
  echo "sim: no answer to $*" >&2
  return 1
}
sim_field() {  # mac key
  sim show "$1" || return
  local l
  for l in "${SIMOUT[@]}"; do
    for kv in $l; do case "$kv" in "$2="*) echo "${kv#*=}"; return ;; esac; done
  done
}

# ---- the driver, one command a line ----
driver_start() {
  coproc DRV { cd "$(dirname "$driver")" && QS_UI_EXE="Z:${exe//\//\\}" exec $wine "$driver" 2>>"$work/driver.err"; }
  dpid=$DRV_PID
}
driver_start
# Display scaling takes effect for processes started afterwards: the driver and
# Wine's own processes start again (programs of the test must be ended first).
set_dpi() {  # 96 | 144 ...
  echo quit >&"${DRV[1]}" 2>/dev/null
  wait "$dpid" 2>/dev/null
  $wine reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d "$1" /f >/dev/null 2>&1
  "$wineserver" -k >/dev/null 2>&1
  sleep 1
  if ! kill -0 "$spid" 2>/dev/null; then
    "$wineserver" -f -p >>"$work/wineserver.log" 2>&1 &
    spid=$!
    sleep 0.5
  fi
  driver_start
}
OUT=()
drv() {
  OUT=()
  printf '%s\n' "$*" >&"${DRV[1]}"
  local l
  while IFS= read -r -t 60 l <&"${DRV[0]}"; do
    l=${l%$'\r'}
    [ "$l" = "." ] && return 0
    OUT+=("$l")
  done
  echo "driver: no answer to $*" >&2
  return 1
}
# The driver's pipes exist only in this shell, not in a pipeline's subshells:
# v runs a command and leaves its first answer line in V.
v() { drv "$@"; V=${OUT[0]:-}; }
one() { drv "$@"; echo "${OUT[0]:-}"; }

shot() {  # name: the main window (and what lies over it) from the screen
  local r
  r=$(one rect)
  set -- "$1" $r
  if [ "${4:-0}" -gt 0 ]; then
    import -display "$DISPLAY" -window root -crop "${4}x${5}+${2}+${3}" +repage "$art/$1.png" 2>/dev/null
  else
    import -display "$DISPLAY" -window root "$art/$1.png" 2>/dev/null
  fi
  [ -s "$art/$1.png" ] && echo "screenshot $art/$1.png"
}
screen() { import -display "$DISPLAY" -window root "$art/$1.png" 2>/dev/null && echo "screenshot $art/$1.png"; }

rows() { drv rows; printf '%s\n' "${OUT[@]}"; }
wait_rows() {  # count ms
  local t=0
  while [ $t -lt "$2" ]; do
    drv rows
    [ "${#OUT[@]}" -ge "$1" ] && return 0
    sleep 0.25; t=$((t + 250))
  done
  return 1
}
row_of() {  # name ip-text -> index
  local l
  drv rows
  for l in "${OUT[@]}"; do
    IFS=$'\t' read -r i n ip s <<<"$l"
    [ "$n" = "$1" ] && [ "$ip" = "$2" ] && { echo "$i"; return; }
  done
  echo -1
}
field() { # line key
  local kv
  IFS=$'\t' read -ra kvs <<<"$1"
  for kv in "${kvs[@]}"; do case "$kv" in "$2="*) echo "${kv#*=}"; return ;; esac; done
}


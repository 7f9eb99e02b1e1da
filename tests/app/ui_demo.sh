#!/usr/bin/env bash
# The desktop program against a handful of simulated devices, for a look:
# starts it under Wine on a virtual display inside a test network, selects a
# KV-xR device and saves a screenshot (run through testnet/run.sh, as
# scripts/demo-program.sh does).
set -u
exe=$(readlink -f "$1") driver=$(readlink -f "$2") out=$3
[ -n "${QS_NET_SIM:-}" ] || { echo "ui_demo: run me inside testnet/run.sh" >&2; exit 2; }
mkdir -p "$(dirname "$out")"
. "$(dirname "$0")/ui_env.sh"

sim reset
sim add model=RMT235 ip=10.71.0.5 segment=A
sim add model=A5411+ ip=10.72.0.40 segment=B
sim add model=KV2R ip=10.72.0.25 segment=B dhcp=1 mask=255.255.240.0 gw=10.72.0.254 version=1.500
sim add model=KV1R ip=10.71.0.30 static=10.71.0.30 mask=255.255.240.0 gw=10.71.0.254 dhcp=0 version=2.0
drv start
v visible 30000
[ "${V##* }" = visible=1 ] || { echo "demo: the program did not show its window" >&2; exit 1; }
wait_rows 4 8000
sleep 1
echo "devices listed:"; rows
r=$(row_of KV-2R .25)
[ "$r" -ge 0 ] && drv select "$r"
sleep 1
import -display "$DISPLAY" -window root "$out" 2>/dev/null
drv run 30000 -kill
echo "kill: ${OUT[0]:-}"
[ -s "$out" ] || { echo "demo: no screenshot" >&2; exit 1; }
echo "screenshot: $out"

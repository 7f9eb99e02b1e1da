#!/usr/bin/env bash
# The desktop program against a handful of simulated devices, for a look:
# starts it under Wine on a virtual display inside a test network, selects a
# KV-xR device and saves a screenshot; then updates the firmware of a device
# whose firmware is older than the file next to the program, with screenshots
# of the firmware dialog beside the first one (run through testnet/run.sh, as
# scripts/demo-program.sh does).
set -u
exe=$(readlink -f "$1") driver=$(readlink -f "$2") out=$3
[ -n "${QS_NET_SIM:-}" ] || { echo "ui_demo: run me inside testnet/run.sh" >&2; exit 2; }
mkdir -p "$(dirname "$out")"
# The program runs from a folder of its own with a firmware file 2.005.
here=$(cd "$(dirname "$0")" && pwd)
demo_dir=$(mktemp -d /tmp/qs-demo.XXXXXX)
cp "$exe" "$(dirname "$exe")/KV-xR_update.dll" "$demo_dir/"
python3 "$here/fw_hex.py" "$demo_dir/kvxr-2.5.hex" 2.5 65536
exe=$demo_dir/Quillscan.exe
. "$here/ui_env.sh"
trap 'cleanup; rm -rf "$demo_dir"' EXIT

sim reset
sim add model=RMT235 ip=10.71.0.5 segment=A
sim add model=A5411+ ip=10.72.0.40 segment=B
sim add model=KV2R ip=10.72.0.25 segment=B dhcp=1 mask=255.255.240.0 gw=10.72.0.254 version=1.500
sim add model=KV1R ip=10.71.0.30 static=10.71.0.30 mask=255.255.240.0 gw=10.71.0.254 dhcp=0 version=2.0 \
  loader_delay=300 app_delay=300 prgs_step=4096 prgs_delay=150
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

# The KV-1R runs 2.0, older than the file: its page offers the update.
fw="KV-xR firmware update"
snap() { import -display "$DISPLAY" -window root "${out%.png}-$1.png" 2>/dev/null && echo "screenshot: ${out%.png}-$1.png"; }
r=$(row_of KV-1R .30)
[ "$r" -ge 0 ] && drv select "$r"
sleep 1
drv link
sleep 1.5
if [ "$(one top "$fw")" != missing ]; then
  snap firmware
  drv press 1 "$fw"
  shown=0
  for _ in $(seq 1 400); do
    drv top "$fw"
    [ "${OUT[0]:-}" = missing ] && break
    t=$(printf '%s\n' "${OUT[@]}" | awk -F'\t' '$1==1028{print $2}')
    p=${t%\%}
    if [ "$shown" = 0 ] && [[ "$p" =~ ^[0-9]+$ ]] && [ "$p" -ge 40 ]; then shown=1; snap firmware-updating; fi
    if [ "$shown" = 1 ] && [[ "$p" =~ ^[0-9]+$ ]] && [ "$p" -ge 71 ]; then shown=2; snap firmware-waiting; fi
    sleep 0.25
  done
  sleep 3
  snap firmware-done
  echo "KV-1R now: $(sim_field "$(field "$(one ctl 1014)" text)" version) (flash $(sim_field "$(field "$(one ctl 1014)" text)" fw_info))"
else
  echo "demo: the firmware dialog did not open" >&2
fi
drv run 30000 -kill
echo "kill: ${OUT[0]:-}"
[ -s "$out" ] || { echo "demo: no screenshot" >&2; exit 1; }
echo "screenshot: $out"

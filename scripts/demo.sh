#!/usr/bin/env bash
# The demo: a private test network with a handful of simulated devices of
# several models (first family and KV-xR, on both segments), and one discovery
# run of quillscan-cli in the PC namespace, as the program scans. Before the
# console front end can discover, it shows the simulator's own device list.
#   scripts/demo.sh            build what it needs, then run
#   scripts/demo.sh --inside   (run by testnet/run.sh in the PC namespace)
set -euo pipefail
cd "$(dirname "$0")/.."
br=${QS_BUILD_ROOT:-build}
case "$br" in /*) ;; *) br=$PWD/$br ;; esac

show_sim_devices() {
  # the control port speaks plain lines; bash's /dev/tcp is enough
  exec 3<>"/dev/tcp/$QS_NET_SIM/$QS_NET_SIM_PORT"
  echo list >&3
  local line
  printf '%-8s %-18s %-12s %-5s %-7s %s\n' MODEL MAC ADDRESS DHCP SEGMENT SERIAL
  while IFS= read -r -t 5 line <&3; do
    [ "$line" = OK ] && break
    case "$line" in ERR*) echo "simulator: $line" >&2; break ;; esac
    declare -A f=()
    local w
    for w in $line; do f[${w%%=*}]=${w#*=}; done
    printf '%-8s %-18s %-12s %-5s %-7s %s\n' "${f[model]}" "${f[mac]}" "${f[ip]}" "${f[dhcp]}" "${f[segment]}" "${f[serial]}"
    unset f
  done
  exec 3<&-
}

if [ "${1:-}" = --inside ]; then
  cli=$2
  echo "== test network: PC interfaces $QS_NET_PC_A and $QS_NET_PC_B (up), $QS_NET_PC_DOWN (down)"
  echo "== the simulated devices (simulator control port $QS_NET_SIM:$QS_NET_SIM_PORT)"
  show_sim_devices
  echo
  if [ -x "$cli" ] && "$cli" discover --help >/dev/null 2>&1; then
    echo "== quillscan-cli discover"
    "$cli" discover
  else
    echo "(quillscan-cli discover is not built yet: the list above is the simulator's)"
  fi
  exit 0
fi

jobs=${QS_JOBS:-2}
mkdir -p "$br"
if [ ! -f "$br/native/build.ninja" ]; then
  cmake -S . -B "$br/native" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >"$br/native.configure.log" 2>&1 ||
    { cat "$br/native.configure.log"; exit 1; }
fi
ninja -C "$br/native" -j"$jobs" quillscan-devsim
# the console front end is optional: the demo still shows the devices without it
ninja -C "$br/native" -j"$jobs" quillscan-cli || echo "demo: quillscan-cli did not build; showing the simulator's list only" >&2

devices=$(mktemp /tmp/qs-demo-devices.XXXXXX)
trap 'rm -f "$devices"' EXIT
cat >"$devices" <<'DEVICES'
# first family: text reply, authenticated reply, or both
model=RMT235 segment=A reply=both serial=RMT-0001 ip=10.71.1.11
model=A5411+ segment=B reply=text ip=10.72.1.12
model=QM235B segment=both reply=auth ip=10.71.1.13
model=QMA271 segment=A ip=10.71.1.14            # not listed: no record
# KV-xR
model=KV1R segment=A ip=10.71.1.21 version=1.12 serial=KV1-000421 opmode=1
model=KV2R segment=B dhcp=1 version=2.5 serial=KV2-000977
model=KV3R segment=both ip=10.71.1.23 version=3.1 serial=KV3-001302 text="studio rack 3"
DEVICES
QS_BUILD_ROOT=$br testnet/run.sh --timeout 120 --devices "$devices" -- "$PWD/scripts/demo.sh" --inside "$br/native/cli/quillscan-cli"

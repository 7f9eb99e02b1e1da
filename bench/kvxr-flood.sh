#!/usr/bin/env bash
# One library scan while a host on segment A forges announces: real KV-xR
# devices on both segments, and 5000 forged announces with distinct
# identifiers (tests/support/announce_forger.cpp, run on the device side) in
# answer to the scan's first request there. Reports how many real devices
# were reported and with a version, how many forged ones, and the scanning
# process's peak thread count and memory.
#
#   bench/kvxr-flood.sh [native|win32|win64]...     (default: native, and win64 when built)
#
# Uses the probe of the build root ($QS_BUILD_ROOT, default "build") and the
# forger of its native build; build both first. Runs only inside its own
# test network. QS_BENCH_DEVICES: real devices (default 20); QS_BENCH_FORGED:
# forged announces (default 5000).
set -u
here=$(cd "$(dirname "$0")" && pwd)
repo=$(dirname "$here")
br=${QS_BUILD_ROOT:-build}
case "$br" in /*) ;; *) br=$repo/$br ;; esac
count=${QS_BENCH_DEVICES:-20}
forged=${QS_BENCH_FORGED:-5000}
forger=$br/native/tests/support/qs-announce-forger
[ -x "$forger" ] || { echo "kvxr-flood.sh: no forger at $forger (build native first)" >&2; exit 1; }

builds=("$@")
if [ ${#builds[@]} -eq 0 ]; then
  builds=(native)
  [ -f "$br/win64/tests/library/kvxr-scan-probe.exe" ] && builds+=(win64)
fi

work=$(mktemp -d /tmp/qs-bench-flood.XXXXXX)
trap 'rm -rf "$work"' EXIT

models=(KV1R KV2R KV3R)
for i in $(seq 0 $((count - 1))); do
  seg=A; [ $((i % 2)) = 1 ] && seg=B
  echo "model=${models[$((i % 3))]} segment=$seg version=1.$((i % 100))"
done >"$work/devices"

# Inside the test network: the forger on the device side, the probe here,
# its /proc entry sampled while it runs.
cat >"$work/inner.sh" <<'INNER'
#!/usr/bin/env bash
set -u
out=$1 forger=$2 forged=$3; shift 3
ip netns exec "$QS_NET_DEVNS" "$forger" "$forged" "$QS_NET_PC_A" 60000 >"$out.forger" 2>&1 &
fpid=$!
sleep 0.3
"$@" >"$out.probe" 2>"$out.err" &
launcher=$!
peak_threads=0 peak_hwm=0 peak_vm=0
# One pgrep a sample (forks are slow here): the probe in this network namespace.
while kill -0 "$launcher" 2>/dev/null; do
  for pid in $(pgrep --ns $$ --nslist net -x kvxr-scan-probe); do
    [ -r "/proc/$pid/status" ] || continue
    while read -r k v _; do
      case "$k" in
        Threads:) [ "$v" -gt "$peak_threads" ] && peak_threads=$v ;;
        VmHWM:) [ "$v" -gt "$peak_hwm" ] && peak_hwm=$v ;;
        VmPeak:) [ "$v" -gt "$peak_vm" ] && peak_vm=$v ;;
      esac
    done 2>/dev/null <"/proc/$pid/status"
  done
  sleep 0.05
done
wait "$launcher"
rc=$?
wait "$fpid"
echo "peak_threads=$peak_threads peak_rss_kib=$peak_hwm peak_vm_kib=$peak_vm rc=$rc" >"$out.proc"
INNER
chmod +x "$work/inner.sh"

status=0
for b in "${builds[@]}"; do
  case "$b" in
    native) cmd=("$br/native/tests/library/kvxr-scan-probe") ;;
    win32|win64)
      export WINEPREFIX=${WINEPREFIX:-/tmp/wine-bench-$(id -u)}
      loader=/usr/lib/wine/wine64; [ "$b" = win32 ] && loader=/usr/lib/wine/wine
      [ -d "$WINEPREFIX" ] || { WINEDEBUG=-all $loader wineboot -i >/dev/null 2>&1; wineserver -w; }
      cmd=("$repo/tests/library/with-display.sh" "$repo/scripts/wine-run.sh" "$br/$b/tests/library/kvxr-scan-probe.exe") ;;
    *) echo "kvxr-flood.sh: unknown build $b" >&2; exit 2 ;;
  esac
  [ -e "${cmd[-1]}" ] || { echo "kvxr-flood.sh: no probe at ${cmd[-1]}" >&2; status=1; continue; }
  "$repo/testnet/run.sh" --timeout 240 --devices "$work/devices" -- \
    "$work/inner.sh" "$work/$b" "$forger" "$forged" "${cmd[@]}" 0 2000
  rc=$?
  echo "$b: real_devices=$count $(cat "$work/$b.probe" 2>/dev/null) $(cat "$work/$b.proc" 2>/dev/null)" \
       "$(cat "$work/$b.forger" 2>/dev/null | tr '\n' ' ')run_rc=$rc"
  [ -s "$work/$b.err" ] && sed 's/^/  /' "$work/$b.err" | grep -v 'X connection' | head -5
  [ "$rc" = 0 ] || status=1
done
exit $status

#!/usr/bin/env bash
# 250 KV-xR devices over the two interfaces of a test network, one library
# scan: how many were reported (and with a version), the time to the done
# callback, and the scanning process's peak thread count and memory.
#
#   bench/kvxr-250.sh [native|win32|win64]...     (default: native, and win64 when built)
#
# Uses the probe of the build root ($QS_BUILD_ROOT, default "build"): build
# the kvxr-scan-probe target first. Runs only inside its own test network.
set -u
here=$(cd "$(dirname "$0")" && pwd)
repo=$(dirname "$here")
br=${QS_BUILD_ROOT:-build}
case "$br" in /*) ;; *) br=$repo/$br ;; esac
count=${QS_BENCH_DEVICES:-250}
# QS_BENCH_BOTH=1: every device on both segments (two reports per device).
# QS_BENCH_VERSION_DELAY=ms: devices answer the version query late, so every
# query holds its thread at once (the worst case for threads and memory).

builds=("$@")
if [ ${#builds[@]} -eq 0 ]; then
  builds=(native)
  [ -f "$br/win64/tests/library/kvxr-scan-probe.exe" ] && builds+=(win64)
fi

work=$(mktemp -d /tmp/qs-bench-kvxr.XXXXXX)
trap 'rm -rf "$work"' EXIT

# Half the devices on each segment, the three models in turn.
models=(KV1R KV2R KV3R)
for i in $(seq 0 $((count - 1))); do
  seg=A; [ $((i % 2)) = 1 ] && seg=B
  [ -n "${QS_BENCH_BOTH:-}" ] && seg=both
  echo "model=${models[$((i % 3))]} segment=$seg version=1.$((i % 100)) opmode=$((i % 7)) version_delay=${QS_BENCH_VERSION_DELAY:-0}"
done >"$work/devices"

# Inside the test network: runs the probe and samples its /proc entry.
cat >"$work/inner.sh" <<'INNER'
#!/usr/bin/env bash
set -u
out=$1; shift
"$@" >"$out.probe" 2>"$out.err" &
launcher=$!
ns=$(readlink /proc/self/ns/net)
peak_threads=0 peak_hwm=0 peak_vm=0
while kill -0 "$launcher" 2>/dev/null; do
  for p in /proc/[0-9]*; do
    [ "$(cat "$p/comm" 2>/dev/null)" = kvxr-scan-probe ] || continue
    [ "$(readlink "$p/ns/net" 2>/dev/null)" = "$ns" ] || continue
    while read -r k v _; do
      case "$k" in
        Threads:) [ "$v" -gt "$peak_threads" ] && peak_threads=$v ;;
        VmHWM:) [ "$v" -gt "$peak_hwm" ] && peak_hwm=$v ;;
        VmPeak:) [ "$v" -gt "$peak_vm" ] && peak_vm=$v ;;
      esac
    done <"$p/status" 2>/dev/null
  done
  sleep 0.05
done
wait "$launcher"
rc=$?
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
    *) echo "kvxr-250.sh: unknown build $b" >&2; exit 2 ;;
  esac
  [ -e "${cmd[-1]}" ] || { echo "kvxr-250.sh: no probe at ${cmd[-1]}" >&2; status=1; continue; }
  "$repo/testnet/run.sh" --timeout 180 --devices "$work/devices" -- "$work/inner.sh" "$work/$b" "${cmd[@]}" 0 2000
  rc=$?
  echo "$b: devices=$count $(cat "$work/$b.probe" 2>/dev/null) $(cat "$work/$b.proc" 2>/dev/null) run_rc=$rc"
  [ -s "$work/$b.err" ] && sed 's/^/  /' "$work/$b.err" | grep -v 'X connection' | head -5
  [ "$rc" = 0 ] || status=1
done
exit $status

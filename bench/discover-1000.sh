#!/usr/bin/env bash
# 1000 simulated first-family and KV-xR devices answering one datagram scan of
# the program at once (text reply and announce each, half on each segment):
# how many records the scan ends with (the goal: all) and how long it took,
# with the scan sockets' receive buffer sized as the program sizes it (4 MiB)
# and with the system's default, for comparison.
#
#   bench/discover-1000.sh [native|win64]...   (default: native, and win64 when built)
#
# Uses discover-scan-probe of the build root ($QS_BUILD_ROOT, default "build").
# Runs only inside its own test network. QS_BENCH_DEVICES changes the count.
set -u
here=$(cd "$(dirname "$0")" && pwd)
repo=$(dirname "$here")
br=${QS_BUILD_ROOT:-build}
case "$br" in /*) ;; *) br=$repo/$br ;; esac
count=${QS_BENCH_DEVICES:-1000}
rounds=${QS_BENCH_ROUNDS:-3}

builds=("$@")
if [ ${#builds[@]} -eq 0 ]; then
  builds=(native)
  [ -f "$br/win64/tests/discovery/discover-scan-probe.exe" ] && builds+=(win64)
fi

work=$(mktemp -d /tmp/qs-bench-discover.XXXXXX)
trap 'rm -rf "$work"' EXIT

# Every listed model in turn; half the devices on each segment. Each device
# answers with both replies, and then (the harder case for the buffer) with
# the announce only.
models=(RMT235 RMT539 QM235B Q235BR QM99VB Q99VBR A5411+ A5261+ KV3R KV2R KV1R)
for reply in both auth; do
  for i in $(seq 0 $((count - 1))); do
    seg=A; [ $((i % 2)) = 1 ] && seg=B
    echo "model=${models[$((i % ${#models[@]}))]} segment=$seg reply=$reply kvxr=0"
  done >"$work/devices-$reply"
done

# Inside the test network: wait until both links carry traffic, then scan.
cat >"$work/inner.sh" <<'INNER'
#!/usr/bin/env bash
set -u
rounds=$1; shift
for _ in $(seq 1 50); do
  exec 3<>"/dev/tcp/$QS_NET_SIM/$QS_NET_SIM_PORT"
  echo warm >/dev/udp/10.71.0.254/9010; echo warm >/dev/udp/10.72.0.254/9010
  printf 'log\nquit\n' >&3
  heard=$(timeout 5 cat <&3 | grep "kind=junk" | grep -o "seg=[AB]" | sort -u | wc -l)
  exec 3<&-
  [ "$heard" = 2 ] && break
  sleep 0.2
done
for r in $(seq 1 "$rounds"); do
  "$@"
  "$@" --default-buffer
done
INNER
chmod +x "$work/inner.sh"

status=0
for b in "${builds[@]}"; do
  case "$b" in
    native) cmd=("$br/native/tests/discovery/discover-scan-probe") ;;
    win64)
      export WINEPREFIX=${WINEPREFIX:-/tmp/wine-bench-$(id -u)}
      [ -d "$WINEPREFIX" ] || { WINEDEBUG=-all /usr/lib/wine/wine64 wineboot -i >/dev/null 2>&1; wineserver -w; }
      cmd=("$repo/scripts/wine-run.sh" "$br/win64/tests/discovery/discover-scan-probe.exe") ;;
    *) echo "discover-1000.sh: unknown build $b" >&2; exit 2 ;;
  esac
  [ -e "${cmd[-1]}" ] || { echo "discover-1000.sh: no probe at ${cmd[-1]}" >&2; status=1; continue; }
  for reply in both auth; do
    "$repo/testnet/run.sh" --timeout 300 --devices "$work/devices-$reply" -- "$work/inner.sh" "$rounds" "${cmd[@]}" \
      >"$work/$b.out" 2>"$work/$b.err"
    rc=$?
    tr -d '\r' <"$work/$b.out" | sed "s/^/$b: devices=$count reply=$reply /"
    [ "$rc" = 0 ] || { status=1; echo "$b: run failed ($rc)"; sed 's/^/  /' "$work/$b.err" | head -5; }
    # the goal: every device a record, with the program's buffer
    if tr -d '\r' <"$work/$b.out" | grep "buffer=4MiB" | grep -qv "records=$count "; then
      echo "$b: a scan ended with fewer than $count records"
      status=1
    fi
  done
done
exit $status

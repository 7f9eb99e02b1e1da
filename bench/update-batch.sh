#!/usr/bin/env bash
# quillscan-cli update --all against 24 simulated KV-xR devices (12 on each
# subnet, stream-fed boot loaders) in a test network of its own:
#   - wall time of the batch (--parallel N, default 8) against the same 24
#     devices updated one after another: 24 runs of the single update, and one
#     batch run with --parallel 1 (the same scan, one device at a time);
#   - the RAM-program stream's datagrams per second on each subnet during the
#     batch against during one single update (goal: equal; the library's
#     streamer is shared per adapter). Counted on the device side of each
#     link (a packet socket on the bridge ports pa and pb): every datagram to
#     239.0.0.64:60892.
# Goal: the batch takes at most a quarter of the time one after another.
#
#   bench/update-batch.sh [N]      (N: --parallel of the batch, default 8)
#
# Uses quillscan-cli of the build root ($QS_BUILD_ROOT, default "build"; build
# the native configuration first); with QS_BENCH_WINDOWS=1 the win64 build's
# quillscan-cli.exe under wine64 instead (prefix: QS_WINE_TEMPLATE, or one made
# here). Runs only inside its own test network.
set -u
here=$(cd "$(dirname "$0")" && pwd)
repo=$(dirname "$here")
br=${QS_BUILD_ROOT:-build}
case "$br" in /*) ;; *) br=$repo/$br ;; esac
parallel=${1:-8}
work=$(mktemp -d /tmp/qs-bench-batch.XXXXXX)
trap 'rm -rf "$work"' EXIT
chmod 755 "$work"
if [ -n "${QS_BENCH_WINDOWS:-}" ]; then
  . "$here/support/windows-program.sh"
  windows_program update-batch.sh "$br/win64/cli/quillscan-cli.exe" "$work" "$work/cli" || exit 1
  cli=$work/cli
else
  cli=$br/native/cli/quillscan-cli
  [ -x "$cli" ] || { echo "update-batch.sh: no $cli (build the native configuration first)" >&2; exit 1; }
fi
# the firmware files of the command-line tests
pfx="" && . "$repo/tests/support/cli_checks.sh"
hexfile "$work/old.hex" 1.100 1
hexfile "$work/new.hex" 1.250 2

for seg in A B; do
  for i in $(seq 1 12); do
    printf 'model=KV2R segment=%s mac=02-42-00-00-%s-%02X loader=stream loader_delay=200 app_delay=200 fw_file=%s\n' \
      "$seg" "0$seg" "$i" "$work/old.hex"
  done
done >"$work/devices"

cat >"$work/count.py" <<'PY'
# One line per RAM-program stream datagram seen on the device side's bridge
# ports: wall-clock time (s) and the port (pa: subnet A, pb: subnet B).
import os, socket, struct, sys, time
out, stopfile = sys.argv[1], sys.argv[2]
s = socket.socket(socket.AF_PACKET, socket.SOCK_DGRAM, socket.htons(0x0003))
s.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 1 << 22)
s.settimeout(0.5)
group = socket.inet_aton("239.0.0.64")
open(out + ".ready", "w").close()
with open(out, "w") as f:
    while not os.path.exists(stopfile):
        try:
            pkt, addr = s.recvfrom(4096)
        except socket.timeout:
            continue
        if addr[0] not in ("pa", "pb") or len(pkt) < 28 or pkt[9] != 17 or pkt[16:20] != group: continue
        ihl = (pkt[0] & 15) * 4
        if struct.unpack_from("!H", pkt, ihl + 2)[0] != 60892: continue
        f.write(f"{time.time():.6f} {addr[0]}\n")
PY

cp "$repo/tests/support/sim_control.sh" "$work/"
cat >"$work/inner.sh" <<'INNER'
#!/usr/bin/env bash
set -u
work=$1 cli=$2 parallel=$3
. "$work/sim_control.sh"
macs=$(sim list | sed -n 's/^mac=\([^ ]*\).*/\1/p')
reset_all() {  # every device back at 1.100, and settled
  local m
  for m in $macs; do sim set "$m" fw_file="$work/old.hex" >/dev/null; done
  sleep 1
}
at_new() {  # how many devices hold 1.250
  local m n=0
  for m in $macs; do [ "$(field "$m" fw_info)" = 1.250 ] && n=$((n + 1)); done
  echo $n
}
timed() {  # label, command...: one line "label start end rc devices-at-1.250"
  local label=$1 t0 t1 rc; shift
  t0=$(date +%s.%N)
  "$@" >"$work/$label.out" 2>"$work/$label.err" </dev/null
  rc=$?
  t1=$(date +%s.%N)
  echo "$label $t0 $t1 $rc $(at_new)" >>"$work/runs"
}
export QS_COMMON_APPDATA=$work/appdata
ip netns exec "$QS_NET_DEVNS" python3 "$work/count.py" "$work/stream" "$work/stop" &
counter=$!
for _ in $(seq 1 50); do [ -e "$work/stream.ready" ] && break; sleep 0.1; done
first=$(head -n1 <<<"$macs")
timed single "$cli" update "$first" "$work/new.hex"
reset_all
timed batch "$cli" update --all "$work/new.hex" --parallel "$parallel" --json
reset_all
timed batch1 "$cli" update --all "$work/new.hex" --parallel 1
reset_all
one_by_one() {
  local m rc=0
  for m in $macs; do "$cli" update "$m" "$work/new.hex" || rc=1; done
  return $rc
}
timed sequential one_by_one
touch "$work/stop"
wait "$counter"
INNER
chmod +x "$work/inner.sh"

load=$(cut -d' ' -f1-3 /proc/loadavg)
QS_DEVSIM_ARGS=--quiet "$repo/testnet/run.sh" --timeout 900 --devices "$work/devices" -- \
  "$work/inner.sh" "$work" "$cli" "$parallel"
rc=$?
[ -f "$work/runs" ] && [ "$(wc -l <"$work/runs")" = 4 ] || {
  echo "update-batch.sh: the runs did not finish ($rc)"; tail -n 5 "$work"/*.err 2>/dev/null; exit 1; }

echo "load average before the run: $load"
python3 - "$work" "$parallel" <<'PY'
import json, os, sys
work, parallel = sys.argv[1], sys.argv[2]
runs = {}
for l in open(os.path.join(work, "runs")):
    label, t0, t1, rc, at = l.split()
    runs[label] = (float(t0), float(t1), int(rc), int(at))
stream = [(float(t), port) for t, port in (l.split() for l in open(os.path.join(work, "stream")))]
def rates(label):
    # per subnet: datagrams, the time the stream ran (100 ms slots with a
    # datagram), datagrams per second of that time, and the busiest second
    t0, t1 = runs[label][:2]
    out = {}
    for port in ("pa", "pb"):
        ts = [t for t, p in stream if p == port and t0 <= t <= t1]
        active = len({int(t * 10) for t in ts}) / 10.0
        peak, j = 0, 0
        for i in range(len(ts)):
            while ts[i] - ts[j] >= 1.0: j += 1
            peak = max(peak, i - j + 1)
        out[port] = (len(ts), active, len(ts) / active if active else 0.0, peak)
    return out
ok = True
for label, what in (("single", "one device, update MAC"), ("batch", f"24 devices, update --all --parallel {parallel}"),
                    ("batch1", "24 devices, update --all --parallel 1"),
                    ("sequential", "24 devices, update MAC one after another")):
    t0, t1, rc, at = runs[label]
    r = rates(label)
    cells = "; ".join(f"{'A' if p == 'pa' else 'B'}: {n} datagrams in {active:.1f} s of streaming = {rate:.0f}/s "
                      f"(busiest second {peak})" for p, (n, active, rate, peak) in r.items())
    print(f"{label:<11}{t1 - t0:7.1f} s  exit {rc}  at 1.250: {at:>2}  ({what})")
    print(f"{'':<11}stream {cells}")
    want = 1 if label == "single" else 24
    ok = ok and rc == 0 and at >= want
b, s1, sq = (runs[k][1] - runs[k][0] for k in ("batch", "batch1", "sequential"))
print(f"batch against one after another: {b:.1f} s / {sq:.1f} s = {b / sq:.2f} (goal <= 0.25); "
      f"against --parallel 1: {b:.1f} s / {s1:.1f} s = {b / s1:.2f}")
single, batch = rates("single"), rates("batch")
print("stream datagrams per second while streaming, batch against single update (subnet A): "
      f"{batch['pa'][2]:.0f}/s against {single['pa'][2]:.0f}/s, busiest second {batch['pa'][3]} against "
      f"{single['pa'][3]} (goal: equal); per device updated: {(batch['pa'][0] + batch['pb'][0]) / 24:.0f} "
      f"against {single['pa'][0]}")
try:
    j = json.load(open(os.path.join(work, "batch.out")))
    print(f"batch --json: {len(j)} objects, statuses {sorted(set(u['status'] for u in j))}")
except Exception as e:
    print(f"batch --json did not parse: {e}"); ok = False
sys.exit(0 if ok else 1)
PY

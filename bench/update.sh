#!/usr/bin/env bash
# One KV-xR firmware update end to end through the library (native build)
# against the simulator, in a test network of its own:
#   - the time of each phase: restart into the boot loader, RAM program,
#     recovery scan and connect, product-data read, compare, write, verify,
#     apply and the application back (device side from the simulator's "fw"
#     journal, caller side from the probe; both on the system's monotonic
#     clock);
#   - the write pass's throughput against a plain TCP transfer of the same
#     chunks over the same link with the same turns (the same receiving
#     namespace and address, timed the same way on the receiving side: from
#     the reply that lets the first chunk go to the last byte taken); goal at
#     least 0.9. Also each chunk's transfer alone, and the whole session;
#   - the bytes written to a device that is already up to date; goal 0.
# The image: about 1 MiB of random bytes in two chunks (0x4000-0x3DFFF with
# fw.info, 0x40000-0xFDFFF), written five times (new and old in turn: every
# chunk differs each time), then once more unchanged. Plain transfers: nine.
#
#   bench/update.sh [loader]      stream (default) or older
#
# Uses kvxr-update-probe of the build root ($QS_BUILD_ROOT, default "build";
# build the native configuration first). Runs only inside its own test network.
# Results: bench/README.md. QS_BENCH_KEEP=1 keeps the work folder (journal,
# probe output) for a closer look.
set -u
here=$(cd "$(dirname "$0")" && pwd)
repo=$(dirname "$here")
br=${QS_BUILD_ROOT:-build}
case "$br" in /*) ;; *) br=$repo/$br ;; esac
loader=${1:-stream}
probe=$br/native/tests/library/kvxr-update-probe
[ -x "$probe" ] || { echo "update.sh: no $probe (build the native configuration first)" >&2; exit 1; }

work=$(mktemp -d /tmp/qs-bench-update.XXXXXX)
[ -n "${QS_BENCH_KEEP:-}" ] && echo "update.sh: keeping $work" || trap 'rm -rf "$work"' EXIT
chmod 755 "$work"

python3 - "$work" <<'PY'
import os, random, sys
work = sys.argv[1]
chunks = [(0x4000, 0x3E000 - 0x4000), (0x40000, 0xFE000 - 0x40000)]
def hexfile(path, version, seed):
    rnd = random.Random(seed)
    out = []
    def line(t, addr, data=b""):
        b = bytes([len(data), (addr >> 8) & 255, addr & 255, t]) + data
        out.append(":" + (b + bytes([(-sum(b)) & 255])).hex().upper() + "\n")
    raw = b""
    for start, size in chunks:
        data = bytearray(rnd.randbytes(size))
        if start == 0x4000:
            info = b'fw.info{"model":"KV-xR","version":"' + version.encode() + b'"}\0'
            data[0:len(info)] = info
        raw += data
        for off in range(0, size, 32):
            a = start + off
            if off == 0 or (a & 0xFFFF) == 0:
                line(4, 0, bytes([a >> 24, (a >> 16) & 255]))
            line(0, a & 0xFFFF, bytes(data[off:off + 32]))
    line(1, 0)
    open(path, "w").write("".join(out))
    return raw
hexfile(os.path.join(work, "old.hex"), "1.100", 1)
hexfile(os.path.join(work, "new.hex"), "1.250", 2)
with open(os.path.join(work, "sizes"), "w") as f:
    f.write(" ".join(str(s) for _, s in chunks) + "\n")
PY

mac=02-42-00-00-0B-01
echo "model=KV2R segment=A mac=$mac loader=$loader loader_delay=200 app_delay=200 fw_file=$work/old.hex" \
  >"$work/devices"

# The plain transfer over the same link, shaped like the write pass: the
# receiver (device namespace, the simulator's address) says "GO" as the
# device's last digest reply does; for each chunk the sender sends an 8-byte
# header (length, tag) and the bytes in pieces of 16384, and the receiver
# answers "DONE" when the chunk is in, as the device's "WFIN". The receiver
# times, on its side, "GO" to the last byte of the last chunk (the pass) and
# each chunk's first byte to its last (the transfer).
cat >"$work/plain_rx.py" <<'PY'
import socket, struct, sys, time
host, port, out = sys.argv[1], int(sys.argv[2]), sys.argv[3]
s = socket.socket(); s.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
s.bind((host, port)); s.listen(1)
open(out + ".ready", "w").close()
buf = bytearray(1 << 16)
rows = []
def exactly(c, n):
    b = b""
    while len(b) < n:
        d = c.recv(n - len(b))
        if not d: return None
        b += d
    return b
while True:
    c, _ = s.accept()
    go = time.monotonic()
    c.sendall(b"GO")
    chunks, quit = [], False
    while True:
        hdr = exactly(c, 8)
        if hdr is None: break
        n, tag = struct.unpack("<I4s", hdr)
        if tag == b"QUIT": quit = True; break
        first = time.monotonic()
        while n > 0:
            got = c.recv_into(buf, min(n, len(buf)))
            if got <= 0: break
            n -= got
        chunks.append((first, time.monotonic()))
        c.sendall(b"DONE")
    c.close()
    if quit: break
    rows.append((go, chunks))
with open(out, "w") as f:
    for go, chunks in rows:
        f.write(f"{go*1000:.3f} " + " ".join(f"{a*1000:.3f} {b*1000:.3f}" for a, b in chunks) + "\n")
PY
cat >"$work/plain_tx.py" <<'PY'
import socket, struct, sys
host, port = sys.argv[1], int(sys.argv[2])
sizes = [int(x) for x in sys.argv[3:]]
datas = [open("/dev/urandom", "rb").read(n) for n in sizes]
c = socket.create_connection((host, port))
c.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
assert c.recv(2) == b"GO"
if not sizes:
    c.sendall(struct.pack("<I4s", 0, b"QUIT")); c.close(); sys.exit()
for data in datas:
    c.sendall(struct.pack("<I4s", len(data), b"WRTE"))
    for i in range(0, len(data), 16384):
        c.sendall(data[i:i + 16384])
    got = b""
    while len(got) < 4: got += c.recv(4 - len(got))
c.close()
PY

cat >"$work/inner.sh" <<'INNER'
#!/usr/bin/env bash
set -u
work=$1 probe=$2 mac=$3
sim() {  # control-port commands, one per argument; output without the OK lines
  exec 4<>"/dev/tcp/$QS_NET_SIM/$QS_NET_SIM_PORT"
  { for c in "$@"; do printf '%s\n' "$c"; done; printf 'quit\n'; } >&4
  timeout 10 cat <&4 | grep -v '^OK$'
  exec 4<&-
}
export QS_COMMON_APPDATA=$work/appdata
sim clearlog >/dev/null
"$probe" update "$mac" "$work/new.hex" "$work/old.hex" "$work/new.hex" "$work/old.hex" "$work/new.hex" >"$work/probe1" 2>"$work/probe1.err"
rc1=$?
sim "show $mac" >"$work/show1"
"$probe" update "$mac" "$work/new.hex" >"$work/probe2" 2>"$work/probe2.err"
rc2=$?
sim "show $mac" >"$work/show2"
sim "fw" >"$work/fw"
# the plain transfers, five rounds of the two chunk sizes
ip netns exec "$QS_NET_DEVNS" python3 "$work/plain_rx.py" "$QS_NET_SIM" 7810 "$work/plain" &
rx=$!
for _ in $(seq 1 50); do [ -e "$work/plain.ready" ] && break; sleep 0.1; done
read -r s1 s2 <"$work/sizes"
for _ in 1 2 3 4 5 6 7 8 9; do python3 "$work/plain_tx.py" "$QS_NET_SIM" 7810 "$s1" "$s2"; done
python3 "$work/plain_tx.py" "$QS_NET_SIM" 7810
wait "$rx"
echo "$rc1 $rc2" >"$work/rcs"
INNER
chmod +x "$work/inner.sh"

"$repo/testnet/run.sh" --timeout 400 --devices "$work/devices" -- "$work/inner.sh" "$work" "$probe" "$mac"
rc=$?
[ -f "$work/rcs" ] || { echo "update.sh: the run did not finish ($rc)"; cat "$work"/probe*.err 2>/dev/null | head; exit 1; }

python3 - "$work" "$loader" <<'PY'
import os, re, statistics, sys
work, loader = sys.argv[1], sys.argv[2]
def kv(line):
    return dict(re.findall(r'(\w+)=(\S+)', line))
fw = [kv(l) for l in open(os.path.join(work, "fw")) if "kind=" in l]
def updates(name):
    ups, events = [], []
    for l in open(os.path.join(work, name)):
        d = kv(l)
        if l.startswith("event "): events.append(d)
        elif l.startswith("update "):
            d["events"] = events; events = []; ups.append(d)
    return ups
ups = updates("probe1") + updates("probe2")
rcs = open(os.path.join(work, "rcs")).read().split()
show1 = dict(l.strip().split("=", 1) for l in open(os.path.join(work, "show1")) if "=" in l)
show2 = dict(l.strip().split("=", 1) for l in open(os.path.join(work, "show2")) if "=" in l)
sizes = [int(x) for x in open(os.path.join(work, "sizes")).read().split()]
image = sum(sizes)
if len(ups) != 6 or any("start" not in u for u in ups):
    sys.exit("update.sh: the probe did not run six updates:\n" + open(os.path.join(work, "probe1")).read()
             + open(os.path.join(work, "probe2")).read())

print(f"loader={loader} image={image} bytes in {len(sizes)} chunks ({' + '.join(map(str, sizes))})")
print(f"{'update':<10}{'status':>7} {'restart':>8}{'RAM':>8}{'rescan':>8}{'pd-read':>8}{'compare':>8}"
      f"{'write':>8}{'verify':>8}{'apply':>8}{'back':>8} {'total':>8}{'caller':>8}  ms")
transfer_rates, pass_rates, sessions = [], [], []
for i, u in enumerate(ups):
    t0, t1 = float(u["start"]), float(u["end"])
    ev = [e for e in fw if t0 - 1 <= float(e["t"]) <= t1 + 5000]
    def first(kind, after=t0, pred=lambda e: True):
        for e in ev:
            if e["kind"] == kind and float(e["t"]) >= after and pred(e): return float(e["t"])
        return None
    def last(kind, before):
        r = None
        for e in ev:
            if e["kind"] == kind and float(e["t"]) <= before: r = float(e["t"])
        return r
    acc = first("fw-answer-accepted")
    ld = first("loader", pred=lambda e: e.get("type") == loader)
    ram = first("ram-program")
    tcp = first("tcp-accept")
    dg = first("DGST", pred=lambda e: e.get("dir") == "in")
    wr = first("WRTE", pred=lambda e: e.get("dir") == "in")
    appl = first("APPL")
    app = first("app-start", after=appl or t0)
    done = last("write-done", appl or t1)
    # the compare pass ends where the first write or (nothing to write) the APPL begins
    cmp_end = wr if wr else appl
    phases = [
        ("restart", t0, ld), ("RAM", ld, ram), ("rescan", ram, tcp), ("pd-read", tcp, dg),
        ("compare", dg, cmp_end), ("write", wr, done if wr else None), ("verify", done if wr else None, appl if wr else None),
        ("apply", appl, t1), ("back", appl, app)]
    caller_found = next((float(e["t"]) for e in u["events"] if e["kind"] == "3" and e["value"] == "0"), None)
    cells = []
    for name, a, b in phases:
        cells.append(f"{(b - a):8.1f}" if a is not None and b is not None else f"{'-':>8}")
    label = "unchanged" if i == len(ups) - 1 else "write"
    print(f"{label:<10}{u['status']:>7} {''.join(cells)} {(app or t1) - t0:8.1f}{t1 - t0:8.1f}")
    # the write pass, device side: from the reply that let the first write
    # start (the compare's last digest) to the last byte taken; and each
    # chunk's request in to its last byte
    if wr:
        pairs, pending, released = [], None, None
        for e in ev:
            if e["kind"] == "DGST" and e.get("dir") == "out" and float(e["t"]) < wr: released = float(e["t"])
            if e["kind"] == "WRTE" and e.get("dir") == "in": pending = (float(e["t"]), int(e["size"]))
            elif e["kind"] == "write-done" and pending:
                pairs.append((pending[0], float(e["t"]), pending[1])); pending = None
        nbytes = sum(n for _, _, n in pairs)
        transfer_rates.append(nbytes / (sum(b - a for a, b, _ in pairs) / 1000) / 1e6)
        pass_rates.append(nbytes / ((pairs[-1][1] - released) / 1000) / 1e6)
        sessions.append(image / ((appl - tcp) / 1000) / 1e6)
print("restart: request to the boot loader running (challenge, answer, loader_delay); RAM: loader start to the")
print("program complete; rescan: to the programming connection; back: APPL to the application running (app_delay);")
print("apply: APPL to the caller's final callback; caller: the caller's call to its final callback")

plain_pass, plain_transfer = [], []
for l in open(os.path.join(work, "plain")):
    v = list(map(float, l.split()))
    go, chunks = v[0], list(zip(v[1::2], v[2::2]))
    if len(chunks) != len(sizes): continue
    plain_pass.append(image / ((chunks[-1][1] - go) / 1000) / 1e6)
    plain_transfer.append(image / (sum(b - a for a, b in chunks) / 1000) / 1e6)
med = statistics.median
def rates(v): return ", ".join(f"{r:.0f}" for r in v)
print(f"write pass (first write released to last byte taken): {rates(pass_rates)} MB/s (median {med(pass_rates):.0f}); "
      f"plain TCP, same chunks, same link, same turns: {rates(plain_pass)} MB/s (median {med(plain_pass):.0f})")
print(f"TCP write pass throughput ratio (goal >= 0.9): {med(pass_rates) / med(plain_pass):.2f}")
print(f"transfers alone (each chunk's first byte to its last): {rates(transfer_rates)} MB/s against "
      f"{rates(plain_transfer)} MB/s: ratio {med(transfer_rates) / med(plain_transfer):.2f}")
print(f"whole programming session (connect to APPL: product-data read, compare, write, verify) for the image: "
      f"median {med(sessions):.0f} MB/s, ratio to the plain pass {med(sessions) / med(plain_pass):.2f}")
b1, b2 = int(show1.get("bytes_written", -1)), int(show2.get("bytes_written", -1))
print(f"bytes written to the up-to-date device (goal 0): {b2 - b1} (status {ups[-1]['status']}; "
      f"device writes {show1.get('writes')} -> {show2.get('writes')}, version {show2.get('fw_info')})")
ok = rcs == ["0", "0"] and [u["status"] for u in ups] == ["1"] * 5 + ["0"] and b2 == b1
sys.exit(0 if ok else 1)
PY

#!/usr/bin/env bash
# How many simulated devices answer one scan at once, and how fast: for each
# count, adds that many devices (half first family, half KV-xR) on segment A,
# sends the text probe and the authenticated discover once from the PC side,
# and counts the replies that arrive. Also reports the simulator's memory.
#   bench/devsim-burst.sh [COUNT...]    (default 250 1000 2000; a segment leases about 2000 addresses)
set -euo pipefail
cd "$(dirname "$0")/.."
br=${QS_BUILD_ROOT:-build}
case "$br" in /*) ;; *) br=$PWD/$br ;; esac
[ -f "$br/native/build.ninja" ] || cmake -S . -B "$br/native" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >"$br/native.configure.log"
ninja -C "$br/native" -j"${QS_JOBS:-2}" quillscan-devsim >/dev/null
counts=${*:-250 1000 2000}
QS_DEVSIM_ARGS=--quiet QS_BUILD_ROOT=$br testnet/run.sh --timeout 300 -- python3 - $counts <<'PY'
import hashlib, os, socket, struct, subprocess, sys, time

sim = (os.environ["QS_NET_SIM"], int(os.environ["QS_NET_SIM_PORT"]))

def control(line):
    s = socket.create_connection(sim, timeout=30)
    f = s.makefile("rw")
    f.write(line + "\n"); f.flush()
    out = []
    while True:
        l = f.readline().rstrip("\n")
        if l == "OK": break
        if l.startswith("ERR") or not l: raise SystemExit("simulator: " + l)
        out.append(l)
    s.close()
    return out

def sim_rss_kib():
    pids = subprocess.run(["ip", "netns", "pids", os.environ["QS_NET_DEVNS"]], capture_output=True, text=True).stdout.split()
    for p in pids:
        try:
            if open(f"/proc/{p}/comm").read().strip().startswith("quillscan-devs"):
                for l in open(f"/proc/{p}/status"):
                    if l.startswith("VmRSS:"): return int(l.split()[1])
        except OSError: pass
    return -1

print(f"{'devices':>8} {'add ms':>8} {'text':>6} {'announce':>9} {'burst ms':>9} {'sim RSS MiB':>12}")
for n in map(int, sys.argv[1:]):
    control("reset")
    t = time.monotonic()
    left = n
    while left:
        k = min(left, 2000)
        control(f"add count={(k + 1) // 2} model=RMT235 segment=A")
        if k // 2: control(f"add count={k // 2} model=KV1R segment=A")
        left -= k
    add_ms = (time.monotonic() - t) * 1000
    s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    s.setsockopt(socket.SOL_SOCKET, socket.SO_BROADCAST, 1)
    s.setsockopt(socket.SOL_SOCKET, 33, 64 << 20)  # SO_RCVBUFFORCE
    s.bind((os.environ["QS_NET_PC_A"], 0))
    nonce = os.urandom(16)
    req = nonce + bytes([1, 0xC1, 0, 0]); req += hashlib.sha1(req).digest()
    t = time.monotonic()
    s.sendto(b"Scan", ("10.71.15.255", 9010))
    s.sendto(req, ("255.255.255.255", 59300))
    s.settimeout(1.0)
    text = auth = 0; last = t
    try:
        while True:
            d, _ = s.recvfrom(2048); last = time.monotonic()
            if d[:1] == b"\x02": text += 1; continue
            k = struct.unpack("<H", d[6:8])[0]
            if len(d) == k + 28 and hashlib.sha1(nonce + d[:k + 8]).digest() == d[k + 8:]: auth += 1
    except socket.timeout: pass
    s.close()
    print(f"{n:>8} {add_ms:>8.0f} {text:>6} {auth:>9} {(last - t) * 1000:>9.0f} {sim_rss_kib() / 1024:>12.1f}")
PY

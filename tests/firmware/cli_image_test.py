#!/usr/bin/env python3
"""Runs `quillscan-cli image --json` on every tool-made file of data/files.txt
and checks the answer against the binaries it was made from: status, format,
version, and each chunk's start, end and SHA-1 computed here independently.
Also the exit codes and the text form.

usage: cli_image_test.py DATA_DIR PATH_PREFIX -- COMMAND...
PATH_PREFIX is put before each file path ("Z:" for the Windows build)."""
import concurrent.futures, hashlib, json, os, subprocess, sys

data, prefix = sys.argv[1], ("" if sys.argv[2] == "-" else sys.argv[2])
cmd = sys.argv[sys.argv.index("--") + 1:]
failures = []

def run(*args):
    p = subprocess.run(cmd + ["image", *args], capture_output=True, text=True, timeout=120)
    return p.returncode, p.stdout, p.stderr

def check(cond, what):
    if not cond:
        failures.append(what)

def check_file(line):
    f = line.split()
    name, status, fmt, version, pieces = f[0], int(f[1]), f[2], f[3], f[4:]
    rc, out, err = run(prefix + os.path.join(data, name), "--json")
    try:
        j = json.loads(out)
    except ValueError:
        failures.append(f"{name}: not JSON: {out!r} {err!r}")
        return
    check(sorted(j) == ["chunks", "format", "status", "version"], f"{name}: keys {sorted(j)}")
    check(j.get("status") == status, f"{name}: status {j.get('status')} != {status}")
    check(rc == (0 if status == 0 else 1), f"{name}: exit {rc}")
    check(j.get("format") == (None if fmt == "-" else fmt), f"{name}: format {j.get('format')}")
    want_v = None if version == "-" else [int(x) for x in version.split(".")]
    check(j.get("version") == want_v, f"{name}: version {j.get('version')} != {want_v}")
    want_c = []
    for p in pieces:
        start, binfile = p.split("=")
        b = open(os.path.join(data, binfile), "rb").read()
        s = int(start, 16)
        want_c.append({"start": s, "end": s + len(b) - 1, "sha1": hashlib.sha1(b).hexdigest()})
    if status == -200:
        want_c = []
    check(j.get("chunks") == want_c, f"{name}: chunks {j.get('chunks')} != {want_c}")

# A few at a time: under Wine each start takes seconds.
lines = [l for l in open(os.path.join(data, "files.txt")) if l.split()]
with concurrent.futures.ThreadPoolExecutor(3) as pool:
    list(pool.map(check_file, lines))
check(len(lines) >= 12, f"only {len(lines)} files listed")

# Text form, usage errors, a missing file.
rc, out, err = run(prefix + os.path.join(data, "srec-s1.s19"))
check(rc == 0 and "format:  s-record" in out and "version: 2.010" in out and "0x00003C00-0x000053FF" in out,
      f"text form: {rc} {out!r}")
rc, out, err = run()
check(rc == 2, f"no file: exit {rc}")
rc, out, err = run("a", "b")
check(rc == 2, f"two files: exit {rc}")
rc, out, err = run("--bogus", prefix + os.path.join(data, "srec-s1.s19"))
check(rc == 2, f"unknown option: exit {rc}")
rc, out, err = run(prefix + "/nonexistent/qs/fw.hex", "--json")
check(rc == 1 and json.loads(out) == {"status": -100, "format": None, "version": None, "chunks": []},
      f"missing file: {rc} {out!r}")

for f in failures:
    print("FAIL:", f)
print(f"{'FAILED' if failures else 'passed'}: {len(failures)} failure(s)")
sys.exit(1 if failures else 0)

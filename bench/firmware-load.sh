#!/usr/bin/env bash
# Load speed and peak memory of firmware files: a 16 MiB image (random bytes
# with a "fw.info" block at 0x4100) written by srec_cat as Intel HEX and as
# S3 records, and the same S3 records in descending address order (the
# reader's out-of-order path); each read by `quillscan-cli image` (reader,
# chunk list, fw.info and a SHA-1 of every chunk) and by srec_cat (reading
# into a binary on /dev/null), side by side. Best of a few runs; peak memory
# from wait4, and the processor time (user + system) it reports, which a busy
# machine disturbs less than the elapsed time. The last columns: srec_cat's
# elapsed and processor time over ours, our peak over the image size.
#   bench/firmware-load.sh [cli binary]   (default: build/native/cli/quillscan-cli)
set -euo pipefail
cd "$(dirname "$0")/.."
br=${QS_BUILD_ROOT:-build}
cli=${1:-$br/native/cli/quillscan-cli}
[ -x "$cli" ] || { echo "firmware-load.sh: no $cli (build the native configuration first)"; exit 1; }
command -v srec_cat >/dev/null || { echo "firmware-load.sh: srec_cat missing (Debian package srecord)"; exit 1; }
runs=${QS_BENCH_RUNS:-3}
work=$(mktemp -d /tmp/qs-fwbench.XXXXXX)
trap 'rm -rf "$work"' EXIT

size=$((16 << 20))
head -c $size /dev/urandom >"$work/image.bin"
printf 'fw.info{"model":"KV-xR","version":"3.141"}\0' | dd of="$work/image.bin" bs=1 seek=$((0x4100)) conv=notrunc status=none
srec_cat "$work/image.bin" -binary -o "$work/image.hex" -intel
srec_cat "$work/image.bin" -binary -execution-start-address=0 -o "$work/image.s37" -motorola -address-length=4
s37=$work/image.s37
{ grep '^S0' "$s37"; grep '^S3' "$s37" | tac; grep '^S[5-9]' "$s37"; } >"$work/desc.s37"

python3 - "$cli" "$work" "$size" "$runs" <<'PY'
import os, subprocess, sys, time
cli, work, size, runs = sys.argv[1], sys.argv[2], int(sys.argv[3]), int(sys.argv[4])

def measure(argv):
    best, cpu, peak = None, None, 0
    for _ in range(runs):
        t0 = time.perf_counter()
        p = subprocess.Popen(argv, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
        _, status, ru = os.wait4(p.pid, 0)
        dt = time.perf_counter() - t0
        err = p.stderr.read().decode(errors="replace")
        if os.waitstatus_to_exitcode(status) != 0:
            sys.exit(f"failed: {' '.join(argv)}\n{err}")
        used = ru.ru_utime + ru.ru_stime
        best = dt if best is None or dt < best else best
        cpu = used if cpu is None or used < cpu else cpu
        peak = max(peak, ru.ru_maxrss)  # KiB
    return best, cpu, peak

data_mib = size / (1 << 20)
print(f"image: {data_mib:.0f} MiB of data; best of {runs} runs; MB/s = MiB of data per second")
print(f"{'file':<12}{'text MiB':>9}  {'reader':<20}{'time s':>7}{'cpu s':>7}{'MB/s':>7}{'peak MiB':>9}"
      f"{'peak - data':>12}{'time x':>7}{'cpu x':>7}{'peak/image':>11}")
for name, fmt in (("image.hex", "-intel"), ("image.s37", "-motorola"), ("desc.s37", "-motorola")):
    path = os.path.join(work, name)
    text_mib = os.path.getsize(path) / (1 << 20)
    # The cli's answer must be right before its speed counts.
    out = subprocess.run([cli, "image", path, "--json"], capture_output=True, text=True)
    if out.returncode != 0 or '"version":[3,141]' not in out.stdout or out.stdout.count('"start"') != 1:
        sys.exit(f"quillscan-cli image {name}: {out.stdout}{out.stderr}")
    ours = measure([cli, "image", path])
    theirs = measure(["srec_cat", path, fmt, "-o", "/dev/null", "-binary"])
    for label, (t, cpu, kib) in (("quillscan-cli image", ours), ("srec_cat", theirs)):
        peak = kib / 1024
        extra = ""
        if label != "srec_cat":
            extra = f"{theirs[0] / t:>7.1f}{theirs[1] / max(cpu, 1e-3):>7.1f}{peak / data_mib:>11.2f}"
        print(f"{name:<12}{text_mib:>9.1f}  {label:<20}{t:>7.3f}{cpu:>7.3f}{data_mib / t:>7.1f}{peak:>9.1f}"
              f"{peak - data_mib:>12.1f}{extra}")
PY

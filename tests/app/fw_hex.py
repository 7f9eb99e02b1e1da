#!/usr/bin/env python3
# Writes a KV-xR firmware file for the UI tests and the demo: Intel HEX with
# the description "fw.info" at 0x4000 and SIZE bytes of a pattern at 0x10000.
#
#   fw_hex.py OUT VERSION [SIZE]
import sys

out_path, version = sys.argv[1], sys.argv[2]
size = int(sys.argv[3]) if len(sys.argv) > 3 else 65536
info = ('fw.info{"model":"KV-xR","version":"%s"}' % version).encode() + b"\0"
first = info + b"\x5a" * (256 - len(info))
second = bytes((i * 7 + 3) & 0xFF for i in range(size))
out = []


def line(kind, addr, data):
    rec = bytes([len(data), (addr >> 8) & 0xFF, addr & 0xFF, kind]) + data
    out.append(":" + rec.hex().upper() + "%02X" % ((-sum(rec)) & 0xFF))


for base, data in ((0x4000, first), (0x10000, second)):
    if not data:
        continue
    line(4, 0, bytes([base >> 24, (base >> 16) & 0xFF]))
    for off in range(0, len(data), 16):
        line(0, (base + off) & 0xFFFF, data[off:off + 16])
line(1, 0, b"")
with open(out_path, "w") as f:
    f.write("\n".join(out) + "\n")

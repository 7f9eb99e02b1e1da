#!/usr/bin/env python3
"""Writes the boot-time RAM program that the library embeds.

When the device-family program lies at the path given with --real, it is
taken unchanged. Otherwise a stand-in of the delivered size is made, the same
bytes on every run: it begins like a program for the devices' processor (an
initial stack pointer and a vector table whose handlers point into the program
in RAM, Thumb bit set) and is otherwise opaque filler. The output is rewritten
only when its content changes, so that an unchanged program relinks nothing.
"""
import argparse
import os
import struct
import sys

SIZE = 107404
LOAD_ADDRESS = 0x20000000
INITIAL_SP = 0x20020000          # top of 128 KiB of RAM, above the program
SYSTEM_VECTORS = 16
IRQ_VECTORS = 32
MARKER = b"Quillscan RAM program stand-in; not device code\0"


def standin():
    table_bytes = 4 * (SYSTEM_VECTORS + IRQ_VECTORS)
    marker_at = table_bytes
    code_at = (marker_at + len(MARKER) + 15) & ~15
    reset = LOAD_ADDRESS + code_at + 1
    default = LOAD_ADDRESS + code_at + 0x40 + 1
    vectors = [INITIAL_SP, reset] + [default] * (SYSTEM_VECTORS + IRQ_VECTORS - 2)
    for reserved in (7, 8, 9, 10, 13):
        vectors[reserved] = 0
    out = bytearray(struct.pack("<%dI" % len(vectors), *vectors))
    out += MARKER
    out += bytes(code_at - len(out))
    x = 0x2545F491
    while len(out) < SIZE:
        x ^= (x << 13) & 0xFFFFFFFF
        x ^= x >> 17
        x ^= (x << 5) & 0xFFFFFFFF
        out += struct.pack("<I", x)
    return bytes(out[:SIZE])


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--out", required=True)
    ap.add_argument("--real")
    a = ap.parse_args()
    if a.real and os.path.exists(a.real):
        with open(a.real, "rb") as f:
            data = f.read()
        if not data:
            sys.exit("ram_program_standin.py: %s is empty" % a.real)
    else:
        data = standin()
    try:
        with open(a.out, "rb") as f:
            if f.read() == data:
                return
    except OSError:
        pass
    tmp = a.out + ".tmp"
    with open(tmp, "wb") as f:
        f.write(data)
    os.replace(tmp, a.out)


if __name__ == "__main__":
    main()

#!/usr/bin/env bash
# Writes the firmware files of the reader tests with real tools (srec_cat from
# srecord, objcopy from binutils) from small binary pieces, and files.txt, the
# list of what each file must load to. Run it again only to change the set:
# the tests read the committed output, so the Windows build sees the same files.
#
# files.txt: <file> <status> <format> <major.minor or -> <address>=<piece>...
set -euo pipefail
cd "$(dirname "$0")"
rm -f ./*.bin ./*.hex ./*.s19 ./*.s28 ./*.s37 ./*.o files.txt

# Pieces: deterministic bytes; info.bin covers the whole 0x4000..0x4FFF window
# and carries the description at 0x4321 (version 2.10).
python3 - <<'PY'
import random
r = random.Random(20261209)
def piece(name, size, info=None, at=0):
    b = bytearray(r.randrange(256) for _ in range(size))
    if info is not None:
        b[at:at + len(info)] = info
    open(name, "wb").write(b)
piece("info.bin", 0x1800, b'fw.info{"model":"KV-xR","version":"2.10","build":"srec"}\0', 0x4321 - 0x3C00)
piece("info-old.bin", 0x1800, b'fw.info {"version":"0.199", "model":"KV-xR"}\0', 0x4000 - 0x3C00)
piece("edge16.bin", 0x200)    # 0xFE00..0xFFFF: the top of 16-bit addresses
piece("cross64k.bin", 0x300)  # 0x1FF00..0x201FF: across a 64 KiB boundary
piece("seg-top.bin", 0x100)   # 0xFFF00..0xFFFFF: the top of segment addresses
piece("high.bin", 0x240)      # 0xF00000: above 1 MiB, 24-bit
piece("top.bin", 0x100)       # 0xFFFFFF00..0xFFFFFFFF: the last 32-bit address
PY

list() { echo "$*" >>files.txt; }
ex=-execution-start-address=0x3C00

# srec_cat, Intel HEX with extended linear addresses, default and 255-byte records.
srec_cat info.bin -binary -offset 0x3C00 cross64k.bin -binary -offset 0x1FF00 high.bin -binary -offset 0xF00000 \
  top.bin -binary -offset 0xFFFFFF00 -o srec-linear.hex -intel
list srec-linear.hex 0 intel-hex 2.10 0x3C00=info.bin 0x1FF00=cross64k.bin 0xF00000=high.bin 0xFFFFFF00=top.bin
srec_cat info.bin -binary -offset 0x3C00 top.bin -binary -offset 0xFFFFFF00 -o srec-linear-255.hex -intel \
  -output-block-size=255 -crlf
list srec-linear-255.hex 0 intel-hex 2.10 0x3C00=info.bin 0xFFFFFF00=top.bin
# srec_cat, Intel HEX with extended segment addresses, 16-byte records.
srec_cat info-old.bin -binary -offset 0x3C00 edge16.bin -binary -offset 0xFE00 cross64k.bin -binary -offset 0x1FF00 \
  seg-top.bin -binary -offset 0xFFF00 -o srec-segment.hex -intel -address-length=3 -output-block-size=16
list srec-segment.hex 0 intel-hex 0.199 0x3C00=info-old.bin 0xFE00=edge16.bin 0x1FF00=cross64k.bin 0xFFF00=seg-top.bin

# srec_cat, S-records: S1/S9 with a count record, S2/S8, S3/S7 with CR LF and short lines.
srec_cat info.bin -binary -offset 0x3C00 edge16.bin -binary -offset 0xFE00 $ex -o srec-s1.s19 -motorola \
  -address-length=2
list srec-s1.s19 0 s-record 2.10 0x3C00=info.bin 0xFE00=edge16.bin
srec_cat info.bin -binary -offset 0x3C00 cross64k.bin -binary -offset 0x1FF00 high.bin -binary -offset 0xF00000 $ex \
  -o srec-s2.s28 -motorola -address-length=3 -output-block-size=64
list srec-s2.s28 0 s-record 2.10 0x3C00=info.bin 0x1FF00=cross64k.bin 0xF00000=high.bin
srec_cat info-old.bin -binary -offset 0x3C00 top.bin -binary -offset 0xFFFFFF00 $ex -o srec-s3.s37 -motorola \
  -address-length=4 -output-block-size=7 -disable=data-count -crlf
list srec-s3.s37 0 s-record 0.199 0x3C00=info-old.bin 0xFFFFFF00=top.bin
srec_cat info.bin -binary -offset 0x3C00 -o srec-s3-max.s37 -motorola -address-length=4 -output-block-size=250 $ex
list srec-s3-max.s37 0 s-record 2.10 0x3C00=info.bin
# Without a start address srec_cat writes no termination record: not a whole file.
srec_cat info.bin -binary -offset 0x3C00 -o srec-noterm.s19 -motorola -address-length=2
list srec-noterm.s19 -200 - -

# objcopy: one object with sections at the pieces' addresses. Intel HEX uses
# segment addresses below 1 MiB and linear ones above; S-records take the
# narrowest address width that fits, or S3 when forced.
objcopy -I binary -O elf32-little info.bin low.o
objcopy -I elf32-little -O elf32-little --change-section-address .data=0x3C00 \
  --add-section .b=edge16.bin --set-section-flags .b=alloc,load,contents --change-section-address .b=0xFE00 \
  --add-section .c=cross64k.bin --set-section-flags .c=alloc,load,contents --change-section-address .c=0x1FF00 \
  --add-section .d=high.bin --set-section-flags .d=alloc,load,contents --change-section-address .d=0xF00000 \
  low.o image.o
objcopy -I elf32-little -O ihex image.o objcopy.hex
list objcopy.hex 0 intel-hex 2.10 0x3C00=info.bin 0xFE00=edge16.bin 0x1FF00=cross64k.bin 0xF00000=high.bin
objcopy -I elf32-little -O srec --srec-len=40 image.o objcopy.s28
list objcopy.s28 0 s-record 2.10 0x3C00=info.bin 0xFE00=edge16.bin 0x1FF00=cross64k.bin 0xF00000=high.bin
objcopy -I elf32-little -O srec --srec-forceS3 --srec-len=123 image.o objcopy.s37
list objcopy.s37 0 s-record 2.10 0x3C00=info.bin 0xFE00=edge16.bin 0x1FF00=cross64k.bin 0xF00000=high.bin
objcopy -I binary -O elf32-little edge16.bin s1.o
objcopy -I elf32-little -O elf32-little --change-section-address .data=0xFE00 s1.o s1b.o
objcopy -I elf32-little -O srec s1b.o objcopy-noinfo.s19
list objcopy-noinfo.s19 -500 s-record - 0xFE00=edge16.bin
rm -f ./*.o

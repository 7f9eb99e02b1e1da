# Sourced by the command-line test scripts of the firmware commands: checks
# that count failures, running the front end with an expected exit status,
# JSON checks, and firmware files to update with. Needs cli (the command that
# runs the front end) and pfx (the drive prefix of host paths, Z: under Wine).
fails=0
check() {  # description, condition result
  if [ "$2" = 0 ]; then echo "ok   $1"; else echo "FAIL $1"; fails=$((fails + 1)); fi
}
# The Windows program reads host files through drive Z:.
pfx=""
case "${cli[*]}" in *wine-run.sh*) pfx="Z:" ;; esac

started=0
run() {  # expected status, output file, arguments... (stdin: none)
  local want=$1 out=$2; shift 2
  started=$(date +%s%N)
  timeout 200 "${cli[@]}" "$@" >"$out" 2>"$out.err" </dev/null
  local rc=$?
  sed -i 's/\r$//' "$out" "$out.err"  # the Windows build ends lines with CR LF
  [ "$rc" = "$want" ] || { echo "  exit $rc (wanted $want) for: $*"; sed 's/^/  | /' "$out" "$out.err"; return 1; }
}
took() { echo "  ($(( ($(date +%s%N) - started) / 1000000 )) ms)"; }
# Every line on stderr names the command, or is the usage line, or goes on
# from the line before (indented).
prefixed() {  # command, file
  ! sed 's/\r$//' "$2" | grep -vE "^(quillscan-cli $1: |usage: quillscan-cli $1 |  )" | grep -q .
}
# The output file's JSON against a python expression over j; a failing check
# shows the document.
jcheck() {  # description, expression
  python3 -c "import json,sys; j=json.load(sys.stdin); sys.exit(0 if ($2) else 1)" <"$out" 2>/dev/null
  local rc=$?
  if [ $rc = 0 ]; then check "$1" 0; else check "$1 ($(tr -d '\n' <"$out"))" $rc; fi
}

# Intel HEX files: fw.info at 0x4000 and 20000 bytes at 0x10000.
hexfile() {  # path, version, seed
  python3 - "$@" <<'EOF'
import sys
path, version, seed = sys.argv[1], sys.argv[2], int(sys.argv[3])
info = ('fw.info{"model":"KV-xR","version":"%s"}' % version).encode() + b"\0"
first = info + b"\x5a" * (256 - len(info))
x, second = (seed * 2654435761 + 7) & 0xFFFFFFFF, bytearray()
for _ in range(20000):
    x = (x * 1103515245 + 12345) & 0xFFFFFFFF
    second.append((x >> 16) & 0xFF)
lines = []
def rec(t, a, d):
    b = bytes([len(d), (a >> 8) & 0xFF, a & 0xFF, t]) + bytes(d)
    lines.append(":" + (b + bytes([(-sum(b)) & 0xFF])).hex().upper())
for base, data in ((0x4000, first), (0x10000, second)):
    rec(4, 0, bytes([base >> 24, (base >> 16) & 0xFF]))
    for i in range(0, len(data), 16):
        rec(0, (base + i) & 0xFFFF, data[i:i + 16])
rec(1, 0, b"")
open(path, "w").write("\n".join(lines) + "\n")
EOF
}

# A directory for this run's files in $dir, $out in it, both gone at the end.
# Under Wine one Wine server serves every run of the program here (in this
# network): started anew for each one it costs seconds; the network's cleanup
# ends it should this script not.
run_dir() {  # mktemp template
  dir=$(mktemp -d "$1")
  out=$dir/out
  trap 'rm -rf "$dir"' EXIT
  if [ -n "$pfx" ]; then
    wineserver -p >/dev/null 2>&1
    trap 'wineserver -k >/dev/null 2>&1; rm -rf "$dir"' EXIT
  fi
  # The library's device logs stay in this run (Linux build).
  export QS_COMMON_APPDATA=$dir/appdata
}

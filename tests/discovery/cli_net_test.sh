#!/usr/bin/env bash
# quillscan-cli discover and wink against the simulator, inside the test
# network (run by testnet/run.sh). Arguments: the command that runs the
# console front end (for the Windows build: scripts/wine-run.sh quillscan-cli.exe).
set -u
[ $# -ge 1 ] || { echo "usage: cli_net_test.sh CLI-COMMAND..." >&2; exit 2; }
cli=("$@")
failures=0
out=$(mktemp /tmp/qs-cli-test.XXXXXX)
err=$(mktemp /tmp/qs-cli-test.XXXXXX)
trap 'rm -f "$out" "$err"' EXIT

fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }

# One control command to the simulator; reply lines on stdout; 0 on OK.
sim() {
  local line rc=1
  exec 3<>"/dev/tcp/$QS_NET_SIM/$QS_NET_SIM_PORT" || return 1
  printf '%s\nquit\n' "$1" >&3
  while IFS= read -r -t 5 line <&3; do
    line=${line%$'\r'}
    case "$line" in
      OK) rc=0; break ;;
      ERR*) echo "sim: $1: $line" >&2; break ;;
      *) echo "$line" ;;
    esac
  done
  exec 3<&-
  return $rc
}

# Runs the front end; stdout and stderr without carriage returns; sets $rc.
run() {
  "${cli[@]}" "$@" >"$out" 2>"$err" </dev/null
  rc=$?
  sed -i 's/\r$//' "$out" "$err"
}

expect_rc() {  # wanted, what
  [ "$rc" = "$1" ] || { fail "$2: exit status $rc, wanted $1; stderr: $(head -c 400 "$err")"; }
}

# ---- usage ----
run discover --bogus; expect_rc 2 "discover --bogus"
run wink; expect_rc 2 "wink without a MAC"
run wink 00-11-22-33-44; expect_rc 2 "wink with a short MAC"
run wink 00-11-22-33-44-5g; expect_rc 2 "wink with a bad digit"
run wink 00-11-22-33-44-55 extra; expect_rc 2 "wink with two arguments"
grep -q "^quillscan-cli wink: one device only" "$err" || fail "wink with two arguments says: $(cat "$err")"
run wink 00-11-22-33-44-5g; expect_rc 2 "wink with a bad digit"
grep -q "^quillscan-cli wink: '00-11-22-33-44-5g' is neither a MAC (six hex pairs, 00-11-22-33-44-55) nor an IPv4 address" "$err" ||
  fail "wink with a bad MAC says: $(cat "$err")"
grep -q "^usage: quillscan-cli wink <MAC|address> \[--xp\]" "$err" || fail "wink usage: $(cat "$err")"
run discover --bogus
grep -q "^quillscan-cli discover: unknown argument '--bogus'" "$err" || fail "discover --bogus says: $(cat "$err")"
run discover --csv --json; expect_rc 2 "discover --csv --json"
grep -q "^quillscan-cli discover: --csv and --json cannot be used together: choose one output form" "$err" ||
  fail "discover --csv --json says: $(cat "$err")"
[ ! -s "$out" ] || fail "discover --csv --json printed: $(cat "$out")"
run discover --help; expect_rc 0 "discover --help"
grep -q "discover \[--xp\] \[--json\]" "$out" || fail "discover --help shows no synopsis"
grep -q "discover \[--xp\] \[--json\] \[--csv\] \[--verbose\]" "$out" || fail "discover --help: $(head -n 1 "$out")"

# ---- no usable interface: a network namespace of its own, with only the
# loopback and a link that is down. A process holds it; when the holder ends
# (at the latest after its sleep), the namespace goes with it. ----
unshare --net -- sh -c 'ip link set lo up && ip link add qsx0 type veth peer name qsx1 &&
  ip addr add 10.74.0.1/20 dev qsx0 && exec sleep 300' </dev/null >/dev/null 2>&1 &
holder=$!
trap 'kill "$holder" 2>/dev/null; rm -f "$out" "$err"' EXIT
for _ in $(seq 1 50); do
  nsenter --net="/proc/$holder/ns/net" ip -4 addr show qsx0 2>/dev/null | grep -q 10.74.0.1 && break
  sleep 0.1
done
bare() {
  nsenter --net="/proc/$holder/ns/net" -- timeout -k 5 120 "${cli[@]}" "$@" >"$out" 2>"$err" </dev/null
  rc=$?
  sed -i 's/\r$//' "$out" "$err"
}
bare discover --verbose; expect_rc 1 "discover without a usable interface"
grep -q "^quillscan-cli discover: no usable network interface (IPv4, up, not loopback): nothing was sent$" "$err" ||
  fail "discover without a usable interface says: $(cat "$err")"
grep -q "^quillscan-cli discover: interfaces seen: .*10\.74\.0\.1/255\.255\.240\.0 (down)" "$err" ||
  fail "discover without a usable interface does not list the link that is down: $(cat "$err")"
grep -q "^quillscan-cli discover: interfaces seen: .*127\.0\.0\.1/255\.0\.0\.0 (up, loopback)" "$err" ||
  fail "discover without a usable interface does not list the loopback: $(cat "$err")"
[ ! -s "$out" ] || fail "discover without a usable interface printed: $(cat "$out")"
grep -q "^quillscan-cli discover:   10\.74\.0\.1/255\.255\.240\.0 (down): not used$" "$err" ||
  fail "discover --verbose without a usable interface says: $(cat "$err")"
bare wink 00-11-22-33-44-55; expect_rc 1 "wink without a usable interface"
grep -q "^quillscan-cli wink: no usable network interface (IPv4, up, not loopback): nothing was sent$" "$err" ||
  fail "wink without a usable interface says: $(cat "$err")"
kill "$holder" 2>/dev/null
run wink --help; expect_rc 0 "wink --help"
grep -q "^usage: quillscan-cli wink <MAC|address> \[--xp\]" "$out" || fail "wink --help: $(cat "$out")"

# ---- nothing there ----
sim reset >/dev/null || { echo "FAIL: no simulator" >&2; exit 1; }
run discover; expect_rc 1 "discover with nothing answering"
grep -q "^quillscan-cli discover: no devices found: nothing answered the scan on 2 interfaces" "$err" ||
  fail "an empty discover says: $(cat "$err")"
[ ! -s "$out" ] || fail "an empty discover printed a table: $(cat "$out")"
grep -Eq "^quillscan-cli discover: probes went out on (10\.71\.0\.1/255\.255\.240\.0, 10\.72\.0\.1/255\.255\.240\.0|10\.72\.0\.1/255\.255\.240\.0, 10\.71\.0\.1/255\.255\.240\.0); no reply came back$" "$err" ||
  fail "an empty discover does not say where the probes went: $(cat "$err")"
grep -q "^quillscan-cli discover: check the cabling and link lights, whether the devices are behind a router in another subnet (broadcasts do not cross it), and whether a firewall on this computer blocks incoming UDP$" "$err" ||
  fail "an empty discover gives no hint: $(cat "$err")"
run discover --csv; expect_rc 1 "discover --csv with nothing answering"
[ "$(cat "$out")" = "model,modelId,address,mac,version,serial,dhcp,staticAddress,netmask,gateway,hardwareId" ] ||
  fail "an empty discover --csv: $(cat "$out")"
run discover --json; expect_rc 1 "discover --json with nothing answering"
[ "$(tr -d ' \n' <"$out")" = "[]" ] || fail "an empty discover --json: $(cat "$out")"
# A terminal shows that the scan is running; a pipe or file gets nothing of it.
# (The native program only: Wine's console redraws a terminal's text with
# escape sequences between the characters.)
if [ "${#cli[@]}" = 1 ] && [ "$(head -c 4 "${cli[0]}" | tail -c 3)" = ELF ]; then
  script -qec "$(printf '%q ' "${cli[@]}") discover" /dev/null >"$out" 2>&1 </dev/null
  grep -q "quillscan-cli discover: scanning [|/\\-]" "$out" || fail "no spinner on a terminal: $(head -c 300 "$out" | od -c | head)"
  tr '\r' '\n' <"$out" | grep -q "^quillscan-cli discover: no devices found" ||
    fail "the spinner's line is not wiped before the verdict: $(od -c "$out" | tail -5)"
  run discover
  grep -q "scanning" "$err" && fail "a spinner when stderr is no terminal: $(cat "$err")"
fi
sim "add model=QMA271 segment=A reply=both" >/dev/null
# Replies (text and authenticated) that name only a model the tool does not
# list: said, but the scan ran.
run discover; expect_rc 0 "discover with only an unlisted model"
grep -q "^quillscan-cli discover: no devices found: 2 replies name no model this tool lists" "$err" ||
  fail "discover with only an unlisted model says: $(cat "$err")"
rmt=$(sim "add model=RMT235 segment=A reply=text ip=10.71.1.10" | sed -n 's/^mac=//p')
a54=$(sim "add model=A5411+ segment=B reply=auth ip=10.72.1.20" | sed -n 's/^mac=//p')
kv=$(sim "add model=KV1R segment=both reply=both ip=10.71.1.30 version=1.12 serial=KV-SN-77" | sed -n 's/^mac=//p')
old=$(sim "add model=KV2R segment=B reply=none ip=10.72.1.40 version=0.136" | sed -n 's/^mac=//p')
[ -n "$rmt" ] && [ -n "$a54" ] && [ -n "$kv" ] && [ -n "$old" ] || { echo "FAIL: devices not added" >&2; exit 1; }
upper() { echo "$1" | tr 'a-f:' 'A-F-'; }
RMT=$(upper "$rmt") A54=$(upper "$a54") KV=$(upper "$kv") OLD=$(upper "$old")

# A fresh test network takes a moment to carry traffic: probe both segments
# until the simulator has heard them.
for _ in $(seq 1 50); do
  echo warm >/dev/udp/10.71.0.254/9010 2>/dev/null
  echo warm >/dev/udp/10.72.0.254/9010 2>/dev/null
  heard=$(sim log | grep "kind=junk" | grep -o "seg=[AB]" | sort -u | wc -l)
  [ "$heard" = 2 ] && break
  sleep 0.2
done
sim clearlog >/dev/null

# ---- discover: table (with --verbose, which tells on stderr only) ----
run discover --verbose; expect_rc 0 "discover"
head -n 1 "$out" | grep -Eq '^DEVICE +ADDRESS +MAC +VERSION +SERIAL +MODE$' || fail "table header: $(head -n 1 "$out")"
grep -Eq "^RMT-2359 +10\.71\.1\.10 +$RMT +- +- +-$" "$out" || fail "no RMT-2359 row: $(cat "$out")"
grep -Eq "^A5411\+ +10\.72\.1\.20 +$A54 +- +- +-$" "$out" || fail "no A5411+ row: $(cat "$out")"
grep -Eq "^KV-1R +10\.71\.1\.30 +$KV " "$out" || fail "no KV-1R row: $(cat "$out")"
grep -q "QMA" "$out" && fail "an unlisted model was listed: $(cat "$out")"
# the KV-2R answers only the KV-xR library's scan
if grep -q "^KV-2R " "$out"; then rows=4; else rows=3; fi
[ "$(wc -l <"$out")" = $((rows + 1)) ] || fail "wanted a header and $rows rows: $(cat "$out")"
# the columns line up: every row has MAC where the header has it
col=$(head -n 1 "$out" | awk '{print index($0, "MAC")}')
while IFS= read -r line; do
  [ "${line:$((col - 1)):2}" = "02" ] || fail "MAC column misaligned: '$line'"
done < <(tail -n +2 "$out")

# --verbose: what went out of each interface and came back.
# qsa hears the RMT-2359's text reply, the KV-1R's text reply and announce and
# the QMA-2711's two; qsb the A5411+'s announce and the KV-1R's announce (the
# KV-2R answers only the library).
grep -Eq "^quillscan-cli discover: scan: the system lists [0-9]+ IPv4 interfaces$" "$err" ||
  fail "discover --verbose: no interface count: $(cat "$err")"
grep -A1 "^quillscan-cli discover:   10\.71\.0\.1/255\.255\.240\.0 (up): sent 1 \"Scan\" probe to 10\.71\.15\.255 port 9010, 1 discover request to 255\.255\.255\.255 port 59300$" "$err" |
  grep -q "^quillscan-cli discover:     replies: 1 first-family, 2 KV-xR, 2 unlisted model, 0 stray or invalid, 0 receive errors$" ||
  fail "discover --verbose on qsa: $(cat "$err")"
grep -A1 "^quillscan-cli discover:   10\.72\.0\.1/255\.255\.240\.0 (up): sent 1 \"Scan\" probe to 10\.72\.15\.255 port 9010, 1 discover request to 255\.255\.255\.255 port 59300$" "$err" |
  grep -q "^quillscan-cli discover:     replies: 1 first-family, 1 KV-xR, 0 unlisted model, 0 stray or invalid, 0 receive errors$" ||
  fail "discover --verbose on qsb: $(cat "$err")"
grep -q "^quillscan-cli discover:   127\.0\.0\.1/255\.0\.0\.0 (up, loopback): not used$" "$err" ||
  fail "discover --verbose does not show the loopback: $(cat "$err")"
grep -q "^quillscan-cli discover:   10\.73\.0\.1/255\.255\.240\.0 (down): not used$" "$err" ||
  fail "discover --verbose on qsc: $(cat "$err")"
# the library: the KV-1R on both interfaces, the KV-2R on qsb, each with its version
if grep -q "^KV-2R " "$out"; then
  grep -q "^quillscan-cli discover: KV-xR library scan (discover requests to port 9010 on every interface, then \"?Version\" to each device): 3 device reports (one per device and interface), 3 with a version reply, 0 not understood$" "$err" ||
    fail "discover --verbose: the library's counts: $(cat "$err")"
fi

# ---- discover: JSON (--verbose leaves it clean) ----
run discover --json --verbose; expect_rc 0 "discover --json"
python3 - "$out" "$RMT" "$A54" "$KV" <<'EOF' || fail "JSON output: $(head -c 800 "$out")"
import json, sys
rows = json.load(open(sys.argv[1]))
rmt, a54, kv = sys.argv[2:5]
keys = {"model", "modelId", "address", "mac", "version", "serial", "dhcp", "staticAddress", "netmask",
        "gateway", "hardwareId"}
assert isinstance(rows, list) and len(rows) in (3, 4), rows
by = {r["mac"]: r for r in rows}
for r in rows:
    assert set(r) == keys, sorted(r)
r = by[rmt]
assert (r["model"], r["modelId"], r["address"]) == ("RMT-2359", 4, "10.71.1.10"), r
assert r["version"] == [0, 0] and r["serial"] == "" and r["dhcp"] is None, r
assert r["staticAddress"] is None and r["netmask"] is None and r["gateway"] is None and r["hardwareId"] == "", r
r = by[a54]
assert (r["model"], r["modelId"], r["address"]) == ("A5411+", 10, "10.72.1.20"), r
r = by[kv]
assert (r["model"], r["modelId"], r["address"]) == ("KV-1R", 14, "10.71.1.30"), r
# with the KV-xR library's details, or without any
if r["hardwareId"]:
    assert len(r["hardwareId"]) == 32 and r["hardwareId"] == r["hardwareId"].upper(), r
    assert r["version"] == [1, 12] and r["serial"].startswith("KV-SN-77") and r["dhcp"] is False, r
else:
    assert r["dhcp"] is None and r["serial"] == "", r
EOF

# ---- wink ----
sim clearlog >/dev/null
run wink "$(echo "$RMT" | tr - :)"; expect_rc 1 "wink of a model that cannot wink"
grep -q "cannot wink" "$err" || fail "wink RMT: $(cat "$err")"
run wink 02-00-00-00-00-99; expect_rc 1 "wink of an unknown MAC"
grep -q "^quillscan-cli wink: no device with MAC 02-00-00-00-00-99 answered the scan" "$err" || fail "wink unknown: $(cat "$err")"
run wink 10.71.1.99; expect_rc 1 "wink of an address nobody has"
grep -q "^quillscan-cli wink: no device with address 10.71.1.99 answered the scan" "$err" || fail "wink unknown address: $(cat "$err")"
hwid=$(sim "show $kv" | sed -n 's/^hwid=//p' | tr 'a-f' 'A-F')
run discover --json
if grep -q "\"$hwid\"" "$out"; then withId=1; else withId=0; fi
sim clearlog >/dev/null
run wink "$kv"
sleep 0.3
if [ "$withId" = 1 ]; then
  # the library told the identifier: the authenticated wink, once per interface
  expect_rc 0 "wink of a KV-1R"
  grep -q "authenticated wink (command 0xC104, 56 bytes) to 255.255.255.255, UDP port 9010, from 2 interfaces (10.71.0.1, 10.72.0.1)" "$out" ||
    fail "wink KV-1R says: $(cat "$out") $(cat "$err")"
  n=$(sim winks | tr ':' '-' | grep "kind=auth" | grep -ic "mac=$KV")
  [ "$n" = 2 ] || fail "the device heard $n authenticated winks: $(sim winks)"
  # by its address, with the directed-broadcast scan
  sim clearlog >/dev/null
  run wink 10.71.1.30 --xp; expect_rc 0 "wink of a KV-1R by its address, --xp"
  grep -q "^KV-1R $KV: sent the authenticated wink" "$out" || fail "wink by address says: $(cat "$out") $(cat "$err")"
  sim log discover | grep -q "dst=10.71.15.255 " || fail "wink --xp sent no directed broadcast: $(sim log discover)"
  # firmware 0.136 takes the text wink, at its address
  sim clearlog >/dev/null
  run wink "$old"; expect_rc 0 "wink of a KV-2R with firmware 0.136"
  grep -q "(firmware 0.136): sent the text wink \"Wink\" (4 bytes) to 10.72.1.40, UDP port 9010" "$out" ||
    fail "wink KV-2R says: $(cat "$out") $(cat "$err")"
  sleep 0.3
  n=$(sim winks | tr ':' '-' | grep "kind=text" | grep "dst=10.72.1.40 " | grep -ic "mac=$OLD")
  [ "$n" = 1 ] || fail "the old device heard $n text winks: $(sim winks)"
else
  # without the library's details nothing names the device: refused, nothing sent
  expect_rc 1 "wink without an identifier"
  grep -q "^quillscan-cli wink: KV-1R $KV: the KV-xR library has not reported the device's hardware identifier, which the wink names; nothing was sent" "$err" ||
    fail "wink without an identifier says: $(cat "$err")"
  [ -z "$(sim winks)" ] || fail "a wink went out: $(sim winks)"
fi

# ---- discover --csv: the records of --json, as a spreadsheet reads them ----
# A serial with a comma and a space, and one a spreadsheet would take for a
# formula (the simulator's settings cannot carry a double quote; the CSV
# writer's own test has those).
sim 'add model=KV3R segment=A reply=both ip=10.71.1.50 version=2.5 serial="SN,1 two"' >/dev/null ||
  fail "could not add the KV-3R"
sim 'add model=KV2R segment=A reply=auth ip=10.71.1.51 serial="=1+2,3"' >/dev/null || fail "could not add the KV-2R"
run discover --json; expect_rc 0 "discover --json before --csv"
cp "$out" "$out.json"
"${cli[@]}" discover --csv >"$out" 2>"$err" </dev/null
rc=$?
expect_rc 0 "discover --csv"
python3 - "$out" "$out.json" <<'EOF' || fail "CSV output: $(head -c 1200 "$out")"
import csv, io, json, sys
raw = open(sys.argv[1], "rb").read()
rows = json.load(open(sys.argv[2]))
assert raw.endswith(b"\r\n"), raw[-20:]
lines = raw.split(b"\r\n")[:-1]
assert not any(b"\r" in l for l in lines), raw  # no CR CR LF, no bare CR
assert not any(b"\n" in l for l in lines), raw  # no bare LF
records = list(csv.reader(io.StringIO(raw.decode("utf-8"), newline="")))
header = ["model", "modelId", "address", "mac", "version", "serial", "dhcp", "staticAddress", "netmask",
          "gateway", "hardwareId"]
assert records[0] == header, records[0]
assert len(records) == len(rows) + 1 and len(rows) >= 4, (len(records), len(rows))

def as_csv(name, v):
    if v is None: return ""
    if isinstance(v, bool): return "true" if v else "false"
    if name == "version": return "%d.%03d" % (v[0], v[1])
    if isinstance(v, (int, float)): return str(int(v))
    if v[:1] in ("=", "+", "-", "@"): return "'" + v
    return v

want = sorted([as_csv(k, r[k]) for k in header] for r in rows)
got = sorted(records[1:])
assert got == want, (got, want)
serials = [r[5] for r in records[1:]]
if any(s.startswith("SN,1 two") for s in serials):
    assert b'"SN,1 two' in raw, raw
    assert any(s.startswith("'=1+2,3") for s in serials), serials
    assert b"\"'=1+2,3" in raw, raw
EOF
rm -f "$out.json"

if [ "$failures" -gt 0 ]; then echo "$failures failure(s)" >&2; exit 1; fi
echo "cli discover/wink: all checks passed"

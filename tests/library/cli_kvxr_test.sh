#!/usr/bin/env bash
# quillscan-cli set-ip, reboot and opmode against the simulator, inside a test
# network (run by testnet/run.sh). Argument: the command to run the front end
# (the program, or the Wine runner followed by the program). QS_CLI_LONG=1 adds
# the cases that wait out set-ip's 30 s (one build runs them).
set -u
cli=("$@")
fails=0
check() {  # description, condition result
  if [ "$2" = 0 ]; then echo "ok   $1"; else
    echo "FAIL $1"
    fails=$((fails + 1))
    # what the last command said, to tell a wrong text from a missing one
    [ -f "${out:-}" ] && head -n 6 "$out" | sed 's/^/  | /'
  fi
}

. "$(dirname "$0")/../support/sim_control.sh"
# Read the whole reply before looking at it: a reader that stops early would
# leave lines for the next command.
shown() { local s; s=$(sim show "$1"); grep -qx "$2" <<<"$s"; }
run() {  # expected status, output file, arguments...
  local want=$1 out=$2; shift 2
  timeout 120 "${cli[@]}" "$@" >"$out" 2>&1
  local rc=$?
  [ "$rc" = "$want" ] || { echo "  exit $rc (wanted $want) for: $*"; sed 's/^/  | /' "$out"; return 1; }
}
# Every line on stderr names the command, or is the usage line, or goes on
# from the line before (indented).
prefixed() {  # command, file
  ! sed 's/\r$//' "$2" | grep -vE "^(quillscan-cli $1: |usage: quillscan-cli $1 |  )" | grep -q .
}
# The discover requests the simulator received from a PC address: how many
# sockets sent them, and the console's own ones (the last socket's trailing
# run; the library's scan asked from another one before), one "destination
# valid nonce" line each.
discover_sockets() {  # PC address
  local s; s=$(sim log discover)
  sed -n "s/.* src=$1:\([0-9]*\) .*/\1/p" <<<"$s" | sort -u | wc -l
}
own_discovers() {  # PC address
  local s; s=$(sim log discover)
  s=$(sed -n "s/.* src=$1:\([0-9]*\) dst=\([0-9.]*\) .* valid=\([01]\) .* hex=\([0-9A-Fa-f]\{32\}\).*/\1 \2 \3 \4/p" <<<"$s")
  [ -n "$s" ] || return 0
  tac <<<"$s" | awk -v p="$(tail -n 1 <<<"$s" | cut -d' ' -f1)" '$1 != p {exit} {print $2, $3, $4}' | tac
}
out=$(mktemp /tmp/qs-cli-kvxr.XXXXXX)
err=$(mktemp /tmp/qs-cli-kvxr.XXXXXX)
trap 'rm -f "$out" "$err"' EXIT

sim reset >/dev/null
sim add model=KV2R segment=A dhcp=1 reboot_ms=800 mac=02-AA-00-00-00-01 opmode=2 >/dev/null
sim add model=KV1R segment=B ack=refuse mac=02-AA-00-00-00-02 ip=10.72.0.42 static=10.72.0.42 dhcp=0 >/dev/null
sim add model=KV3R segment=A mute=reboot mac=02-AA-00-00-00-03 ip=10.71.0.60 static=10.71.0.60 dhcp=0 \
  mask=255.255.240.0 gw=10.71.0.254 >/dev/null
# Operation-mode reports the library's record cannot hold: one after the
# announce, and one of mode 0 beside a device that sends none (02 below).
sim add model=KV2R segment=A mac=02-AA-00-00-00-04 ip=10.71.0.70 static=10.71.0.70 dhcp=0 opmode=9 \
  opmode_order=after >/dev/null
sim add model=KV1R segment=B mac=02-AA-00-00-00-05 ip=10.72.0.43 static=10.72.0.43 dhcp=0 opmode=0 >/dev/null
mac=02:aa:00:00:00:01

# The commands in the order a technician meets them.
run 0 "$out" --help; check "--help" $?
order=$(sed -n 's/^  quillscan-cli \([a-z-]*\).*/\1/p' "$out" | tr '\n' ' ')
[ "$order" = "discover wink set-ip reboot opmode update recover product-data image " ]; check "commands listed in a fixed order ($order)" $?

# Malformed input is refused before anything is sent.
sim clearlog >/dev/null
run 2 "$out" set-ip $mac static 10.71.0.300 255.255.240.0 10.71.0.254; check "octet above 255 refused" $?
grep -q "^quillscan-cli set-ip: address '10.71.0.300' is not a dotted IPv4 address" "$out"; check "the error names the address" $?
run 2 "$out" set-ip $mac static 10.71.0.88 255.0.255.0 10.71.0.254; check "non-contiguous netmask refused" $?
grep -q "the netmask 255.0.255.0 is not a run of ones followed by zeros" "$out"; check "says what is wrong with the netmask" $?
run 2 "$out" set-ip 02:aa:00:00:00 dhcp; check "short MAC refused" $?
grep -q "^quillscan-cli set-ip: '02:aa:00:00:00' is neither a MAC" "$out"; check "says what is wrong with the MAC" $?
prefixed set-ip "$out"; check "errors start with the command" $?
run 2 "$out" opmode $mac 256; check "operation mode above 255 refused" $?
grep -q "^quillscan-cli opmode: '256' is no operation mode: 0 to 255" "$out"; check "says what is wrong with the value" $?
run 2 "$out" reboot 10.71.0; check "a partial address names no device" $?
prefixed reboot "$out"; check "reboot errors start with the command" $?
# Addresses a device cannot live at, and no gateway at all.
run 2 "$out" set-ip $mac static 10.71.0.0 255.255.240.0 10.71.0.254; check "the subnet's own address refused" $?
grep -q "^quillscan-cli set-ip: the address 10.71.0.0 is the subnet's own address for netmask 255.255.240.0" "$out"
check "says it is the subnet's own address" $?
run 2 "$out" set-ip $mac static 10.71.15.255 255.255.240.0 10.71.0.254; check "the subnet's broadcast address refused" $?
grep -q "broadcast address for netmask 255.255.240.0" "$out"; check "says it is the broadcast address" $?
run 2 "$out" set-ip $mac static 0.0.0.0 255.255.240.0 10.71.0.254; check "0.0.0.0 refused" $?
run 2 "$out" set-ip $mac static 10.71.0.88 255.255.240.0 0.0.0.0; check "gateway 0.0.0.0 refused" $?
grep -q "the gateway 0.0.0.0 is no address for a gateway" "$out"; check "says the gateway is missing" $?
log=$(sim log); ! grep -qE 'kind=(discover|setcfg|reboot)' <<<"$log"; check "nothing sent for malformed input" $?

run 0 "$out" set-ip $mac static 10.71.0.88 255.255.240.0 10.71.0.254; check "DHCP to static" $?
grep -q "came back at 10.71.0.88 (static, netmask 255.255.240.0, gateway 10.71.0.254)" "$out"; check "says where it came back" $?
shown 02-AA-00-00-00-01 "ip=10.71.0.88"; check "the device is at the new address" $?

# A gateway in another subnet is sent, with a warning.
run 0 "$out" set-ip 10.71.0.88 static 10.71.0.89 255.255.240.0 10.72.0.254; check "device named by its address" $?
grep -q "^quillscan-cli set-ip: warning: the gateway 10.72.0.254 is outside the subnet of 10.71.0.89" "$out"
check "warns about the gateway" $?
grep -q "came back at 10.71.0.89 (static, netmask 255.255.240.0, gateway 10.72.0.254)" "$out"; check "and sends it" $?

# Only the netmask changes: the report from before the restart shows the old one.
run 0 "$out" set-ip $mac static 10.71.0.89 255.255.0.0 10.72.0.254; check "netmask alone changed" $?
grep -q "came back at 10.71.0.89 (static, netmask 255.255.0.0, gateway 10.72.0.254)" "$out"; check "back with the new netmask" $?

run 0 "$out" set-ip $mac dhcp; check "static to DHCP" $?
grep -q "came back at .* (DHCP" "$out"; check "back by DHCP" $?
shown 02-AA-00-00-00-01 "dhcp=1"; check "the device uses DHCP" $?

# The settings it has already: taken only once it was seen restarting.
boots=$(field 02-AA-00-00-00-01 boots)
sim set 02-AA-00-00-00-01 reboot_ms=3000 >/dev/null
run 0 "$out" set-ip $mac dhcp; check "DHCP again" $?
grep -q "came back at .* (DHCP" "$out"; check "back by DHCP again" $?
[ "$(field 02-AA-00-00-00-01 boots)" = $((boots + 1)) ]; check "after a real restart" $?
sim set 02-AA-00-00-00-01 reboot_ms=800 >/dev/null

run 0 "$out" opmode $mac 0x07; check "operation mode written" $?
shown 02-AA-00-00-00-01 "opmode=7"; check "the device has mode 7" $?
sim clearlog >/dev/null
run 0 "$out" opmode $mac; check "operation mode read" $?
grep -q "operation mode 7 (0x07)" "$out"; check "reads mode 7" $?
[ "$(discover_sockets 10.71.0.1)" = 1 ]; check "a mode the scan reported: the device is not asked again" $?

# The library holds 0 for these three; the device itself tells.
sim clearlog >/dev/null
run 0 "$out" opmode 02:aa:00:00:00:04; check "read of a report that follows the announce" $?
grep -q "^KV-2R 02-AA-00-00-00-04: operation mode 9 (0x09)" "$out"; check "its mode 9 is read from the device" $?
asked=$(own_discovers 10.71.0.1)
n=$(grep -c . <<<"$asked")
[ "$(discover_sockets 10.71.0.1)" = 2 ] && [ "$n" -ge 1 ] && [ "$n" -le 4 ] && ! grep -qv "^255.255.255.255 1 " <<<"$asked"
check "the device was asked with valid requests to 255.255.255.255 ($n)" $?

sim set 02-AA-00-00-00-02 opmode_items=none >/dev/null
sim clearlog >/dev/null
run 0 "$out" opmode 10.72.0.42; check "operation mode read by address" $?
sed -i 's/\r$//' "$out"
grep -qx "KV-1R 02-AA-00-00-00-02: operation mode unknown (the device sent no operation-mode report)" "$out"
check "no report is shown as unknown, not as the mode 0 of the device beside it" $?
asked=$(own_discovers 10.72.0.1)
n=$(grep -c . <<<"$asked")
[ "$(discover_sockets 10.72.0.1)" = 2 ] && [ "$n" -ge 3 ] && [ "$n" -le 4 ] && ! grep -qv "^255.255.255.255 1 " <<<"$asked"
check "asked for 2 s, a valid request every 670 ms ($n)" $?
[ "$(cut -d' ' -f3 <<<"$asked" | sort -u | wc -l)" = "$n" ]; check "each request with a new nonce" $?

sim clearlog >/dev/null
run 0 "$out" opmode 02:aa:00:00:00:05 --xp; check "read of a report of mode 0" $?
grep -q "^KV-1R 02-AA-00-00-00-05: operation mode 0 (0x00)" "$out"; check "mode 0 is shown as known" $?
asked=$(own_discovers 10.72.0.1)
n=$(grep -c . <<<"$asked")
[ "$(discover_sockets 10.72.0.1)" = 2 ] && [ "$n" -ge 1 ] && [ "$n" -le 4 ] && ! grep -qv "^10.72.15.255 1 " <<<"$asked"
check "with --xp the device is asked at the directed broadcast" $?

run 0 "$out" reboot $mac; check "reboot" $?
grep -q "rebooting" "$out"; check "says it reboots" $?

run 1 "$out" set-ip 02:aa:00:00:00:02 dhcp; check "refusing device fails" $?
grep -q -- "^quillscan-cli set-ip: settings not taken: -401: the device refused the settings" "$out"; check "refusal explained" $?
run 1 "$out" reboot 02:aa:00:00:00:09; check "unknown device fails" $?
grep -q "^quillscan-cli reboot: no KV-xR device with MAC 02-AA-00-00-00-09 answered the scan" "$out"; check "says which device is missing" $?
run 1 "$out" reboot 10.72.0.99; check "no device at an address fails" $?
grep -q "^quillscan-cli reboot: no KV-xR device with address 10.72.0.99 answered the scan" "$out"; check "says which address" $?

# Settings stored, but the device does not restart: said, and not waited for.
run 1 "$out" set-ip 02-aa-00-00-00-03 static 10.71.0.61 255.255.240.0 10.71.0.254; check "restart refused fails" $?
grep -q "^quillscan-cli set-ip: the device stored the settings but did not restart: -210: the device sent no valid challenge within 3 s" "$out"
check "says the settings wait for the next restart, and why" $?
! grep -q "waiting for it" "$out"; check "no wait for a device that did not restart" $?
shown 02-AA-00-00-00-03 "pending=1"; check "the settings are pending in the device" $?

if [ "${QS_CLI_LONG:-0}" = 1 ]; then
  # Runs set-ip in the background; sets $waited to the milliseconds from its
  # "waiting" line to its verdict on stderr and $rc to its exit status. The
  # hook runs once the "waiting" line is there.
  timed_set_ip() {  # hook, arguments...
    local hook=$1; shift
    "${cli[@]}" set-ip "$@" >"$out" 2>"$err" &
    local pid=$! began="" ended=""
    for _ in $(seq 1 1200); do
      if [ -z "$began" ] && grep -q "waiting for it" "$out" 2>/dev/null; then
        began=$(date +%s%N)
        $hook
      fi
      if [ -n "$began" ] && grep -q "^quillscan-cli set-ip: " "$err" 2>/dev/null; then ended=$(date +%s%N); break; fi
      kill -0 $pid 2>/dev/null || break
      sleep 0.05
    done
    wait $pid; rc=$?
    waited=$(( (${ended:-$(date +%s%N)} - ${began:-0}) / 1000000 ))
    cat "$err" >>"$out"
  }
  # A device that does not come back: given up after 30 s, not one scan more.
  sim set 02-AA-00-00-00-01 reboot_ms=120000 >/dev/null
  timed_set_ip : $mac static 10.71.0.90 255.255.240.0 10.71.0.254
  [ "$rc" = 1 ]; check "a device that does not come back fails (exit $rc)" $?
  grep -q "^quillscan-cli set-ip: 02-AA-00-00-00-01 was not reported with its new settings within 30 s" "$out"
  check "says it did not come back" $?
  [ "$waited" -ge 29500 ] && [ "$waited" -le 30700 ]; check "waited 30 s ($waited ms)" $?
  # The same settings, and the device still answers after its restart was
  # asked for (a unit that never went down): no success.
  twin() {  # the device is swapped for one of the same identity that is up
    local hw; hw=$(field 02-AA-00-00-00-03 hwid)
    sim remove 02-AA-00-00-00-03 >/dev/null
    sim add model=KV3R segment=A mac=02-AA-00-00-00-03 hwid="$hw" ip=10.71.0.61 static=10.71.0.61 dhcp=0 \
      mask=255.255.240.0 gw=10.71.0.254 >/dev/null
  }
  sim set 02-AA-00-00-00-03 mute=- reboot_ms=120000 >/dev/null
  sim reboot 02-AA-00-00-00-03 10 >/dev/null; sleep 1
  shown 02-AA-00-00-00-03 "ip=10.71.0.61"; check "device at its pending address" $?
  timed_set_ip twin 02-aa-00-00-00-03 static 10.71.0.61 255.255.240.0 10.71.0.254
  [ "$rc" = 1 ]; check "a device never seen restarting is no success (exit $rc)" $?
  grep -q "02-AA-00-00-00-03 kept answering and was never seen restarting within 30 s" "$out"; check "says so" $?
  [ "$waited" -le 30700 ]; check "within 30 s ($waited ms)" $?
fi

echo "$fails failed"
[ "$fails" = 0 ]

#!/usr/bin/env bash
# quillscan-cli set-ip, reboot and opmode against the simulator, inside a test
# network (run by testnet/run.sh). Argument: the command to run the front end
# (the program, or the Wine runner followed by the program).
set -u
cli=("$@")
fails=0
check() {  # description, condition result
  if [ "$2" = 0 ]; then echo "ok   $1"; else echo "FAIL $1"; fails=$((fails + 1)); fi
}

exec 3<>"/dev/tcp/$QS_NET_SIM/$QS_NET_SIM_PORT" || { echo "no simulator control port"; exit 1; }
# Read the whole reply before looking at it: a reader that stops early would
# leave lines for the next command.
shown() { local s; s=$(sim show "$1"); grep -qx "$2" <<<"$s"; }
sim() {  # one control line; its reply lines on stdout; status 0 on OK
  printf '%s\n' "$*" >&3
  local line
  while IFS= read -r -t 10 line <&3; do
    line=${line%$'\r'}
    case "$line" in
      OK) return 0 ;;
      ERR*) echo "$line" >&2; return 1 ;;
      *) echo "$line" ;;
    esac
  done
  return 1
}
run() {  # expected status, output file, arguments...
  local want=$1 out=$2; shift 2
  timeout 120 "${cli[@]}" "$@" >"$out" 2>&1
  local rc=$?
  [ "$rc" = "$want" ] || { echo "  exit $rc (wanted $want) for: $*"; sed 's/^/  | /' "$out"; return 1; }
}
out=$(mktemp /tmp/qs-cli-kvxr.XXXXXX)
trap 'rm -f "$out"' EXIT

sim reset >/dev/null
sim add model=KV2R segment=A dhcp=1 reboot_ms=800 mac=02-AA-00-00-00-01 opmode=2 >/dev/null
sim add model=KV1R segment=B ack=refuse mac=02-AA-00-00-00-02 >/dev/null
mac=02:aa:00:00:00:01

# Malformed input is refused before anything is sent.
sim clearlog >/dev/null
run 2 "$out" set-ip $mac static 10.71.0.300 255.255.240.0 10.71.0.254; check "octet above 255 refused" $?
grep -q "not a dotted IPv4 address" "$out"; check "the error names the address" $?
run 2 "$out" set-ip $mac static 10.71.0.88 255.0.255.0 10.71.0.254; check "non-contiguous netmask refused" $?
run 2 "$out" set-ip 02:aa:00:00:00 dhcp; check "short MAC refused" $?
run 2 "$out" opmode $mac 256; check "operation mode above 255 refused" $?
log=$(sim log); ! grep -qE 'kind=(discover|setcfg|reboot)' <<<"$log"; check "nothing sent for malformed input" $?

run 0 "$out" set-ip $mac static 10.71.0.88 255.255.240.0 10.71.0.254; check "DHCP to static" $?
grep -q "came back at 10.71.0.88 (static, netmask 255.255.240.0, gateway 10.71.0.254)" "$out"; check "says where it came back" $?
shown 02-AA-00-00-00-01 "ip=10.71.0.88"; check "the device is at the new address" $?

run 0 "$out" set-ip $mac dhcp; check "static to DHCP" $?
grep -q "came back at .* (DHCP" "$out"; check "back by DHCP" $?
shown 02-AA-00-00-00-01 "dhcp=1"; check "the device uses DHCP" $?

run 0 "$out" opmode $mac 0x07; check "operation mode written" $?
shown 02-AA-00-00-00-01 "opmode=7"; check "the device has mode 7" $?
run 0 "$out" opmode $mac; check "operation mode read" $?
grep -q "operation mode 7 (0x07)" "$out"; check "reads mode 7" $?

run 0 "$out" reboot $mac; check "reboot" $?
grep -q "rebooting" "$out"; check "says it reboots" $?

run 1 "$out" set-ip 02:aa:00:00:00:02 dhcp; check "refusing device fails" $?
grep -q -- "-401: the device refused the settings" "$out"; check "refusal explained" $?
run 1 "$out" reboot 02:aa:00:00:00:09; check "unknown device fails" $?

echo "$fails failed"
[ "$fails" = 0 ]

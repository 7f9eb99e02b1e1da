#!/usr/bin/env bash
# quillscan-cli update, recover and product-data against the simulator's
# device side of firmware work, inside a test network (run by testnet/run.sh).
# Argument: the command to run the front end (the program, or the Wine runner
# followed by the program). QS_CLI_LONG=1 adds the cases that wait out a 60 s
# limit (one build runs them).
set -u
cli=("$@")
. "$(dirname "$0")/../support/sim_control.sh"
. "$(dirname "$0")/../support/cli_checks.sh"
# Polls a device's field until it has the value (at most s seconds).
wait_field() {  # mac, key, value, seconds
  local i
  for i in $(seq 1 $(($4 * 10))); do
    [ "$(field "$1" "$2")" = "$3" ] && return 0
    sleep 0.1
  done
  return 1
}
run_dir /tmp/qs-cli-fw.XXXXXX

hexfile "$dir/old.hex" 1.100 1
hexfile "$dir/new.hex" 1.250 2
echo "not a firmware file" >"$dir/bad.hex"
old=$dir/old.hex new=$pfx$dir/new.hex

sim reset >/dev/null
dev() { sim add "model=KV2R segment=A loader_delay=200 app_delay=200 wpboot_interval=200 fw_file=$old $*" | sed -n 's/^mac=//p'; }

# ---- what is refused before anything is sent ----
sim clearlog >/dev/null
run 2 "$out" update 02-aa-00-00-00-01; check "update without a file refused" $?
grep -q "^quillscan-cli update: a device and a firmware file are needed" "$out.err"; check "says what is missing" $?
run 2 "$out" update 02-aa-00-00-00-01 "$new" --force; check "unknown option refused" $?
run 1 "$out" update 02-aa-00-00-00-01 "$pfx$dir/missing.hex"; check "a file that is not there" $?
grep -q -- "missing.hex: -100: no file or folder at this path" "$out.err"; check "says there is no file" $?
run 1 "$out" update 02-aa-00-00-00-01 "$pfx$dir/bad.hex"; check "a file that is no firmware" $?
grep -q -- "bad.hex: -200: the file is neither Intel HEX nor S-record" "$out.err"; check "says it is no firmware" $?
prefixed update "$out.err"; check "update errors start with the command" $?
run 2 "$out" recover "$new"; check "recover without units refused" $?
grep -q "name the units by MAC, or give --all" "$out.err"; check "says how to name them" $?
run 2 "$out" recover "$new" --all 02-aa-00-00-00-01; check "--all with MACs refused" $?
run 2 "$out" recover "$new" --seconds 1e3; check "malformed seconds refused" $?
run 2 "$out" recover "$new" --seconds 99999999; check "seconds beyond a day refused" $?
run 2 "$out" recover "$new" 02-aa-00-00-00; check "short MAC refused" $?
prefixed recover "$out.err"; check "recover errors start with the command" $?
run 2 "$out" product-data 02-aa-00-00-00-01 --yes; check "--yes without --erase refused" $?
run 2 "$out" product-data 02-aa-00-00-00-01 --erase; check "erase without a terminal and without --yes refused" $?
grep -q "without one give --yes (nothing was sent)" "$out.err"; check "says why" $?
prefixed product-data "$out.err"; check "product-data errors start with the command" $?
log=$(sim log); ! grep -qE 'kind=(discover|fw-reboot|recovery)' <<<"$log"; check "nothing sent for refused input" $?

# ---- update ----
s=$(dev loader=stream)
run 0 "$out" update "$s" "$new"; check "update through the stream-fed loader" $?; took
grep -q "firmware 1.100; the file holds 1.250" "$out"; check "names both versions" $?
grep -q "^update ended with 1: firmware written and verified; application started" "$out"; check "final status with its meaning" $?
grep -q "is back at 10.71.[0-9.]* with firmware 1.250" "$out"; check "back at the new version" $?
grep -q "^quillscan-cli update: restarting the device into its boot loader" "$out.err"; check "shows the restart" $?
grep -q "^quillscan-cli update: writing [0-9]*%" "$out.err"; check "shows the write as plain lines" $?
prefixed update "$out.err"; check "progress lines start with the command" $?
[ "$(field "$s" fw_info)" = 1.250 ] && [ "$(field "$s" ram_source)" = stream ]; check "the flash holds 1.250, by the stream" $?

written=$(field "$s" bytes_written)
run 0 "$out" update "$s" "$new" --json; check "a second update" $?; took
jcheck "--json: status 0, nothing to do" 'j == {"status": 0, "before": [1, 250], "after": [1, 250], "file": [1, 250]}'
[ "$(field "$s" bytes_written)" = "$written" ]; check "and nothing written" $?
[ "$(wc -l <"$out")" = 1 ]; check "--json: stdout holds the object only" $?

o=$(sim add "model=KV3R segment=B loader_delay=200 app_delay=200 wpboot_interval=200 fw_file=$old loader=older" | sed -n 's/^mac=//p')
run 0 "$out" update "${o//-/:}" "$new" --json; check "update through the older loader, on the other subnet" $?; took
jcheck "--json: 1.100 to 1.250" 'j["status"] == 1 and j["before"] == [1, 100] and j["after"] == [1, 250] and j["file"] == [1, 250]'
[ "$(field "$o" ram_source)" = older ] && [ "$(field "$o" fw_info)" = 1.250 ]; check "the RAM program uploaded, the flash holds 1.250" $?

f=$(dev fw_challenge=none)
run 1 "$out" update "$f" "$new"; check "a device that sends no challenge fails" $?; took
grep -q -- "^quillscan-cli update: the update failed: -7: the device sent no valid reboot challenge within 5 s; the device answers with firmware 1.100" "$out.err"
check "says what the status means and what the device holds" $?
run 1 "$out" update "$f" "$new" --json; check "fails with --json too" $?
jcheck "--json of a failure" 'j == {"status": -7, "before": [1, 100], "after": [1, 100], "file": [1, 250]}'

# ---- recover ----
sim reset >/dev/null
u1=$(sim add "model=KV1R segment=A stuck=1 loader=stream fw_file=$old app_delay=200" | sed -n 's/^mac=//p')
u2=$(sim add "model=KV3R segment=B stuck=1 loader=older fw_file=$old wpboot_interval=200 app_delay=200" | sed -n 's/^mac=//p')
run 0 "$out" recover "$new" --all --json; check "recover --all of two stuck units" $?; took
jcheck "--json: both programmed" "len(j) == 2 and sorted(u['mac'] for u in j) == sorted(['$u1', '$u2']) and all(u['status'] == 1 for u in j)"
jcheck "--json: their addresses" "all(len(u['address'].split('.')) == 4 and u['address'].startswith('10.7') for u in j)"
grep -q "^quillscan-cli recover: found: 10.71.[0-9.]* $u1" "$out.err"; check "lists a unit as found" $?
grep -q "^quillscan-cli recover: $u2 at 10.72.[0-9.]* ended with 1: firmware written" "$out.err"; check "shows a unit's outcome" $?
prefixed recover "$out.err"; check "recover's lines start with the command" $?
wait_field "$u1" state online 10 && wait_field "$u2" state online 10; check "both run their application again" $?
[ "$(field "$u1" fw_info)" = 1.250 ] && [ "$(field "$u2" fw_info)" = 1.250 ]; check "with 1.250" $?

# By MAC: only the unit named is programmed; the other one is listed.
sim set "$u1" stuck=1 >/dev/null
sim set "$u2" stuck=1 >/dev/null
run 0 "$out" recover "$new" "$u2" --seconds 4 --json; check "recover by MAC" $?; took
jcheck "--json: the named unit ends with 0, the other not touched" "{u['mac']: u['status'] for u in j} == {'$u1': None, '$u2': 0}"
[ "$(field "$u1" state)" = loader ]; check "the unit not named stays in its boot loader" $?
[ $(( ($(date +%s%N) - started) / 1000000 )) -ge 4000 ]; check "ran at least the seconds asked for" $?

# The one left, by MAC in its other form; a failing unit gives a non-zero exit.
sim set "$u1" dgst_fault=erro >/dev/null
run 1 "$out" recover "$new" "${u1//-/:}"; check "a unit that fails to program fails the command" $?; took
grep -q "^$u1 at 10.71.[0-9.]*: -24: the boot loader gave a bad or no digest reply" "$out"; check "the summary names the error" $?
grep -q "^quillscan-cli recover: not every unit asked for was brought back" "$out.err"; check "says so" $?

if [ -z "$pfx" ]; then
  # Ctrl+C: recovery mode off, the summary, a non-zero exit.
  "${cli[@]}" recover "$new" --seconds 60 >"$out" 2>"$out.err" </dev/null &
  pid=$!
  for _ in $(seq 1 100); do grep -q "found: " "$out" && break; sleep 0.1; done
  t0=$(date +%s%N)
  kill -INT $pid
  wait $pid; rc=$?
  ms=$(( ($(date +%s%N) - t0) / 1000000 ))
  [ "$rc" = 1 ] && [ "$ms" -lt 5000 ]; check "Ctrl+C ends recover at once (exit $rc, $ms ms)" $?
  grep -q "^quillscan-cli recover: interrupted; recovery mode switched off" "$out.err"; check "says recovery mode is off" $?
  grep -q "^$u1 at 10.71.[0-9.]*: not asked for" "$out"; check "and lists what it found" $?
fi

# ---- product data ----
sim reset >/dev/null
p=$(sim add "model=KV1R segment=A loader_delay=200 app_delay=200 product=valid serial=QS004711" | sed -n 's/^mac=//p')
area=$(field "$p" pd_area)
run 0 "$out" product-data "$p"; check "product data read" $?; took
grep -q "^calibration: ${area:0:64}$" "$out"; check "shows the calibration bytes" $?
grep -q "^record: valid$" "$out"; check "the record is valid" $?
grep -q "^  format  (tag 0xF0, 1 bytes): 1$" "$out"; check "its format" $?
grep -q "^  model   (tag 0x01, 8 bytes): KV1R$" "$out"; check "its model code, without its padding" $?
grep -q "^  mac     (tag 0x02, 6 bytes): $p$" "$out"; check "its MAC" $?
grep -q "^  serial  (tag 0x03, 8 bytes): QS004711$" "$out"; check "its serial" $?
wait_field "$p" state online 10
run 0 "$out" product-data "${p//-/:}" --json; check "product data as JSON" $?; took
jcheck "--json: the record and its items" "j['valid'] is True and j['calibration'] == '${area:0:64}' and [i['name'] for i in j['items']] == ['format', 'model', 'mac', 'serial', 'end'] and j['items'][0]['value'] == 1 and j['items'][1]['value'] == 'KV1R' and j['items'][2]['value'] == '$p' and j['items'][3]['value'] == 'QS004711'"
wait_field "$p" state online 10
run 0 "$out" product-data "$p" --erase --yes --json; check "erase without asking" $?; took
jcheck "--json: erased, and the area read back holds an invalid record" "j['valid'] is True and j['erased'] is True and j['after']['valid'] is False and len(j['after']['items']) == 5 and j['after']['calibration'] == j['calibration']"
[ "$(field "$p" pd_record)" = invalid ]; check "the device's record is invalid" $?
# A read that fails is told by the bytes alone: said, and no success.
r=$(sim add "model=KV2R segment=B loader_delay=200 app_delay=200 read_fault=erro read_fault_at=product" | sed -n 's/^mac=//p')
run 1 "$out" product-data "$r"; check "a failing read fails" $?; took
grep -q "^quillscan-cli product-data: the read failed" "$out.err"; check "says the read failed" $?
! grep -q "^record:" "$out"; check "and shows no record" $?

if [ "${QS_CLI_LONG:-0}" = 1 ]; then
  # A unit left in its boot loader by a failed write: not back within 30 s.
  sim reset >/dev/null
  e=$(dev write_fault=erro)
  run 1 "$out" update "$e" "$new" --json; check "a device that reports an error while writing fails" $?; took
  jcheck "--json: -25, the unit is not back" 'j["status"] == -25 and j["after"] is None'
  grep -q -- "-25: the device reported an error while writing; the device was not seen again within 30 s" "$out.err"
  check "says it may wait in its boot loader" $?
  grep -q "quillscan-cli recover" "$out.err"; check "and how to bring it back" $?
  # A named unit that never appears: given up after 60 s with a message.
  run 1 "$out" recover "$new" 02-00-00-00-09-99; check "a unit that never appears fails" $?; took
  ms=$(( ($(date +%s%N) - started) / 1000000 ))
  [ "$ms" -ge 59500 ] && [ "$ms" -le 66000 ]; check "after 60 s ($ms ms)" $?
  grep -q "^quillscan-cli recover: 02-00-00-00-09-99 was not found within 60 s; given up" "$out.err"; check "says which unit" $?
fi

echo "$fails failed"
[ "$fails" = 0 ]

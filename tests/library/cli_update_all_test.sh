#!/usr/bin/env bash
# quillscan-cli update --all against simulated KV-xR devices on both subnets of
# a test network (run by testnet/run.sh): 24 devices, some already at the
# file's version, updated several at once; a device that fails; refused input;
# Ctrl+C (Linux build). Argument: the command to run the front end (the
# program, or the Wine runner followed by the program).
set -u
cli=("$@")
. "$(dirname "$0")/../support/sim_control.sh"
. "$(dirname "$0")/../support/cli_checks.sh"
run_dir /tmp/qs-cli-all.XXXXXX

hexfile "$dir/old.hex" 1.100 1
hexfile "$dir/new.hex" 1.250 2
echo "not a firmware file" >"$dir/bad.hex"
old=$dir/old.hex new=$pfx$dir/new.hex
fast="loader_delay=200 app_delay=200 wpboot_interval=200"
add() {  # settings...: the MACs of the devices added, one a line
  sim add "$fast $*" | sed -n 's/^mac=//p'
}
# The JSON array's objects against a python expression over u (each object).
each() {  # description, expression
  jcheck "$1" "len(j) > 0 and all(($2) for u in j)"
}

# ---- what is refused before anything is sent ----
sim reset >/dev/null
sim clearlog >/dev/null
run 2 "$out" update --all; check "--all without a file refused" $?
grep -q "^quillscan-cli update: --all needs a firmware file" "$out.err"; check "says the file is missing" $?
run 2 "$out" update --all "$new" 02-aa-00-00-00-01; check "--all with a device refused" $?
grep -q "^quillscan-cli update: --all takes a firmware file and no device" "$out.err"; check "says why" $?
for n in 0 33 x 1e1 -1 ""; do
  run 2 "$out" update --all "$new" --parallel $n; check "--parallel '$n' refused" $?
  grep -q "^quillscan-cli update: --parallel takes a number from 1 to 32" "$out.err"; check "says the range" $?
done
grep -q "^       quillscan-cli update --all <FILE> \[--older\] \[--parallel N\]" "$out.err"; check "the usage shows the --all form" $?
run 2 "$out" update --all "$new" --newer; check "unknown option refused" $?
run 1 "$out" update --all "$pfx$dir/bad.hex"; check "a file that is no firmware" $?
grep -q -- "bad.hex: -200: the file is neither Intel HEX nor S-record" "$out.err"; check "says it is no firmware" $?
prefixed update "$out.err"; check "errors start with the command" $?
log=$(sim log); ! grep -qE 'kind=(discover|fw-reboot|recovery)' <<<"$log"; check "nothing sent for refused input" $?
run 1 "$out" update --all "$new"; check "no device at all fails" $?
grep -q "^quillscan-cli update: no KV-xR device answered the scan; nothing was updated" "$out.err"; check "and says so" $?

# ---- 24 devices, 6 of them at the file's version, both loaders, both subnets ----
olds=$( (add "model=KV2R segment=A loader=stream fw_file=$old count=9"
         add "model=KV1R segment=B loader=stream fw_file=$old count=6"
         add "model=KV3R segment=B loader=older fw_file=$old count=3") | sort)
currents=$( (add "model=KV2R segment=A loader=stream fw_file=$dir/new.hex count=3"
             add "model=KV3R segment=B loader=older fw_file=$dir/new.hex count=3") | sort)
[ "$(wc -l <<<"$olds")" = 18 ] && [ "$(wc -l <<<"$currents")" = 6 ]; check "24 devices in the simulator" $?
pylist() { sed "s/.*/'&'/" | paste -sd, | sed 's/^/[/; s/$/]/'; }
oldlist=$(pylist <<<"$olds") curlist=$(pylist <<<"$currents")

run 0 "$out" update --all "$new" --older --json; check "update --all --older of 24 devices" $?; took
jcheck "--json: 24 objects" "len(j) == 24"
each "each with its mac, status, before, after and file" "set(u) - {'skipped'} == {'mac', 'status', 'before', 'after', 'file'} and u['file'] == [1, 250]"
jcheck "--json: one object per device" "sorted(u['mac'] for u in j) == sorted($oldlist + $curlist)"
jcheck "--json: the skipped ones are those at the version" "sorted(u['mac'] for u in j if 'skipped' in u) == sorted($curlist)"
each "the others were written: 1.100 to 1.250, status 1" "'skipped' in u or (u['status'] == 1 and u['before'] == [1, 100] and u['after'] == [1, 250])"
each "the skipped ones: no status, at 1.250" "'skipped' not in u or (u['status'] is None and u['before'] == [1, 250] and u['after'] == [1, 250])"
grep -q "^quillscan-cli update: found 24 KV-xR devices; the file holds 1.250; 18 to update, up to 8 at once, 6 skipped" "$out.err"
check "says what it found and what it skips" $?
grep -q "^quillscan-cli update: 24 KV-xR devices: 18 updated, 0 already current, 0 failed, 6 skipped (6 at 1.250)$" "$out.err"
check "the summary counts" $?
grep -qE "^quillscan-cli update: KV-3R [0-9A-F-]{17} at 10\.72\.[0-9.]+: firmware 1\.250: skipped, already at the file's version$" "$out.err"
check "a skipped device's line says why" $?
grep -qE "^quillscan-cli update: KV-1R [0-9A-F-]{17} at 10\.72\.[0-9.]+: firmware 1\.100 -> 1\.250: 1: firmware written and verified; application started$" "$out.err"
check "an updated device's line: versions, status and meaning" $?
grep -qE "^quillscan-cli update: [0-9A-F-]{17}: writing [0-9]+%$" "$out.err"; check "progress as lines per device" $?
prefixed update "$out.err"; check "every line on stderr starts with the command" $?
[ "$(wc -l <"$out")" = 1 ]; check "--json: stdout holds the array only" $?
bad=0
for m in $olds $currents; do [ "$(field "$m" fw_info)" = 1.250 ] || { echo "  $m: $(field "$m" fw_info)"; bad=1; }; done
[ $bad = 0 ]; check "every device's flash holds 1.250" $?
bad=0
for m in $currents; do [ "$(field "$m" writes)" = 0 ] && [ "$(field "$m" loader_phase)" = app ] || bad=1; done
[ $bad = 0 ]; check "the skipped ones were not touched" $?
n=$(sim fw ram-program | grep -c "source=stream"); [ "$n" = 15 ]; check "15 RAM programs by the stream ($n)" $?
n=$(sim fw ram-program | grep -c "source=older"); [ "$n" = 3 ]; check "3 by the older loader's upload ($n)" $?

# ---- a device that fails among others; one already current ----
sim reset >/dev/null
ok1=$(add "model=KV2R segment=A fw_file=$old")
ok2=$(add "model=KV1R segment=B loader=older fw_file=$old")
cur=$(add "model=KV2R segment=B fw_file=$dir/new.hex")
f=$(add "model=KV3R segment=A fw_file=$old fw_challenge=none")
run 1 "$out" update --all "$new" --parallel 2; check "a batch with a failing device fails" $?; took
grep -qE "^KV-3R $f at 10\.71\.[0-9.]+: firmware 1\.100 -> 1\.100: -7: the device sent no valid reboot challenge within 5 s$" "$out"
check "the failing device's line names its status" $?
grep -qE "^KV-2R $cur at 10\.72\.[0-9.]+: firmware 1\.250 -> 1\.250: 0: the device already held this firmware; application started$" "$out"
check "the current one ended with 0" $?
grep -qE "^KV-1R $ok2 at 10\.72\.[0-9.]+: firmware 1\.100 -> 1\.250: 1: " "$out"; check "the others were written" $?
grep -q "^4 KV-xR devices: 2 updated, 1 already current, 1 failed, 0 skipped$" "$out"; check "the summary counts the failure" $?
grep -q "^quillscan-cli update: not every device was updated to 1.250$" "$out.err"; check "says not all were updated" $?
grep -q "^quillscan-cli update: $f: update ended with -7: " "$out.err"; check "the failure shows as it happens" $?
[ "$(field "$ok1" fw_info)" = 1.250 ] && [ "$(field "$f" fw_info)" = 1.100 ]; check "the flashes hold what was said" $?

# --older with every device current: nothing to do is no failure.
sim reset >/dev/null
add "model=KV2R segment=A fw_file=$dir/new.hex" >/dev/null
run 0 "$out" update --all "$new" --older --parallel 1; check "nothing older: done" $?
grep -q "^1 KV-xR devices: 0 updated, 0 already current, 0 failed, 1 skipped (1 at 1.250)$" "$out"; check "counted as skipped" $?

if [ -z "$pfx" ]; then
  # Ctrl+C: the devices waiting for their turn do not start, the one under
  # way ends, the lines and a non-zero exit.
  sim reset >/dev/null
  macs=$(add "model=KV2R segment=A fw_file=$old loader_delay=1500 count=4")
  "${cli[@]}" update --all "$new" --parallel 1 >"$out" 2>"$out.err" </dev/null &
  pid=$!
  for _ in $(seq 1 150); do grep -q "restarting into its boot loader" "$out.err" && break; sleep 0.1; done
  kill -INT $pid
  wait $pid; rc=$?
  [ "$rc" = 1 ]; check "Ctrl+C ends the batch with a failure (exit $rc)" $?
  grep -q "^quillscan-cli update: interrupted: no more updates start; waiting for the 1 under way to end" "$out.err"
  check "says what it waits for" $?
  n=$(grep -c ": not started: interrupted$" "$out"); [ "$n" = 3 ]; check "three devices not started ($n)" $?
  grep -q "^4 KV-xR devices: 0 updated, 0 already current, 4 failed, 0 skipped$" "$out"; check "none counted as updated" $?
  started_ones=0
  for m in $macs; do [ "$(field "$m" writes)" = 0 ] || started_ones=$((started_ones + 1)); done
  [ "$started_ones" = 1 ]; check "only the one under way was written ($started_ones)" $?
fi

echo "$fails failed"
[ "$fails" = 0 ]

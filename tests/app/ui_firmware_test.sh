#!/usr/bin/env bash
# The firmware update dialog and the recovery dialog of the desktop program,
# under Wine on a virtual display, against the simulator's device side of an
# update, inside a test network (run it through testnet/run.sh):
#
#   testnet/run.sh -- tests/app/ui_firmware_test.sh BUILD/win64/app/Quillscan.exe BUILD/win64/tests/app/quillscan-uidriver.exe
#
# A copy of the program lies in a folder with a firmware file 2.005. Recovery:
# two units stuck in their boot loaders are listed, the ticked one recovered,
# "Exit" asks about the rest, a unit that appears afterwards is listed too, and
# recovery mode is off afterwards. Updates from the KV-xR page: a failed one
# and a new try that brings the device to 2.005. At 150 % display scaling the
# main window and both dialogs again, with an update of a device that already
# holds the file (a second copy of the program, with a file 1.900). Screenshots of every state go to the build root's
# artifacts/ui-firmware folder.
set -u
exe=$(readlink -f "$1") driver=$(readlink -f "$2")
[ -n "${QS_NET_SIM:-}" ] || { echo "ui_firmware_test: run me inside testnet/run.sh" >&2; exit 2; }
br=$(dirname "$(dirname "$(dirname "$exe")")")   # BUILD/win64/app/Quillscan.exe -> BUILD
art=${QS_UI_ARTIFACTS:-$br/artifacts/ui-firmware}
mkdir -p "$art"
rm -f "$art"/*.png
# A prefix of its own: the other UI test may run at the same time.
export QS_UI_WINEPREFIX=${QS_UI_WINEPREFIX:-/tmp/quillscan-ui-fw-wine-$(id -u)}

fails=0 passes=0
pass() { passes=$((passes + 1)); echo "PASS $*"; }
fail() { fails=$((fails + 1)); echo "FAIL $*"; }
check() {  # name expected actual
  if [ "$2" = "$3" ]; then pass "$1"; else fail "$1: expected [$2] got [$3]"; fi
}
contains() {  # name text actual
  if [[ "$3" == *"$2"* ]]; then pass "$1"; else fail "$1: [$3] lacks [$2]"; fi
}

# The program and its firmware file live in the test's folder; the driver
# is given the program when it starts (QS_UI_EXE).
work_fw=$(mktemp -d /tmp/qs-ui-fw.XXXXXX)
cp "$exe" "$(dirname "$exe")/KV-xR_update.dll" "$work_fw/"
exe=$work_fw/Quillscan.exe
. "$(dirname "$0")/ui_env.sh"
trap 'cleanup; rm -rf "$work_fw"' EXIT

# Firmware 2.005: its description at 0x4000 and 64 KiB at 0x10000, so that
# writing takes a while and the bar is seen part way.
hex=$work_fw/kvxr-2.5.hex
python3 "$(dirname "$0")/fw_hex.py" "$hex" 2.5 65536

FW="KV-xR firmware update" REC="Recovery Mode" HINT="Hint for Recovery mode"
# Field of control ID in window TITLE: text, enabled or visible.
ctl_in() {  # title id text|enabled|visible
  local l id t e vis
  drv ctls "$1"
  for l in "${OUT[@]}"; do
    IFS=$'\x1f' read -r id t e vis <<<"${l//$'\t'/$'\x1f'}"
    [ "$id" = "$2" ] || continue
    case "$3" in text) echo "$t" ;; enabled) echo "${e#enabled=}" ;; visible) echo "${vis#visible=}" ;; esac
    return
  done
  echo missing
}
present() { [ "$(one top "$1")" != missing ] && echo present || echo gone; }
wait_for() {  # ms command...: until the command succeeds
  local ms=$1 t=0; shift
  while [ $t -lt "$ms" ]; do "$@" && return 0; sleep 0.25; t=$((t + 250)); done
  return 1
}
is_gone() { [ "$(present "$1")" = gone ]; }
is_present() { [ "$(present "$1")" = present ]; }
bar_is() { [ "$(ctl_in "$FW" 1028 text)" = "$1" ]; }
shot_of() {  # name title: that window from the screen (the whole screen when missing)
  local r
  r=$(one wrect "$2")
  set -- "$1" $r
  if [ "${4:-0}" -gt 0 ] 2>/dev/null; then
    import -display "$DISPLAY" -window root -crop "${4}x${5}+${2}+${3}" +repage "$art/$1.png" 2>/dev/null
  else
    import -display "$DISPLAY" -window root "$art/$1.png" 2>/dev/null
  fi
  [ -s "$art/$1.png" ] && echo "screenshot $art/$1.png"
}
box() { drv top Quillscan; BOX=$(printf '%s\n' "${OUT[@]:-missing}" | cut -f2- | tr '\n' ' '); }
# Rows of the recovery list: "i<TAB>type<TAB>ip<TAB>mac<TAB>version<TAB>status<TAB>checked=N"
rec_rows() { drv lrows "$REC"; [ "${OUT[0]:-}" != missing ]; }
rec_count() { rec_rows; echo "${#OUT[@]}"; }
bare() { local m=${1//[-:]/}; echo "${m,,}"; }  # a MAC without separators, lower case
rec_col() {  # mac column -> text of that column in the unit's row (missing when none)
  local l
  rec_rows
  for l in "${OUT[@]}"; do
    IFS=$'\x1f' read -ra c <<<"${l//$'\t'/$'\x1f'}"
    [ "$(bare "${c[3]}")" = "$(bare "$1")" ] && { echo "${c[$2]}"; return; }
  done
  echo missing
}
rec_row() {  # mac -> row index
  local l
  rec_rows
  for l in "${OUT[@]}"; do
    IFS=$'\x1f' read -ra c <<<"${l//$'\t'/$'\x1f'}"
    [ "$(bare "${c[3]}")" = "$(bare "$1")" ] && { echo "${c[0]}"; return; }
  done
  echo -1
}
status_is() { [ "$(rec_col "$1" 5)" = "$2" ]; }
ticked_count() { rec_rows; printf '%s\n' "${OUT[@]}" | grep -c 'checked=1$'; }
select_device() {  # name ip-suffix
  drv select "$(row_of "$1" "$2")"; sleep 0.5
}
open_fw() {  # open the firmware dialog from the page's link
  drv link
  [ "${OUT[0]:-}" = posted ] || return 1
  wait_for 5000 is_present "$FW"
}
link_shown() { [ "$(field "$(one ctl 1017)" visible)" = 1 ]; }
link_hidden() { [ "$(field "$(one ctl 1017)" visible)" = 0 ]; }

sim reset
sim add model=KV1R ip=10.71.0.30 static=10.71.0.30 mask=255.255.240.0 gw=10.71.0.254 dhcp=0 segment=A version=2.0 \
  loader_delay=200 app_delay=200 prgs_step=4096 prgs_delay=150
mac_up=${SIMOUT[0]#mac=}
sim add model=KV2R ip=10.72.0.25 static=10.72.0.25 mask=255.255.240.0 gw=10.72.0.254 dhcp=0 segment=B version=2.0 \
  loader_delay=200 app_delay=200 fw_file="$hex"
mac_same=${SIMOUT[0]#mac=}
drv start; pid=${OUT[0]#pid=}
v visible 30000
check "main window appears" "visible=1" "${V##* }"
wait_rows 2 8000; sleep 1

# ==== recovery mode ====
drv syscmd 32784
wait_for 5000 is_present "$REC"
check "system menu opens the recovery dialog" "present" "$(present "$REC")"
check "the hint is shown while nothing is found" "present" "$(present "$HINT")"
v ontop "$HINT"
check "the hint is in front of the dialog" "ontop=1" "${V%%$'\t'*}"
check "the hint's text" "Connect KV-xR devices to recover, and they will be discovered automatically." \
  "$(ctl_in "$HINT" -1 text)"
check "the list starts empty" "0" "$(rec_count)"
check "Recover disabled with no unit" "0" "$(ctl_in "$REC" 1 enabled)"
sleep 0.5
screen 20-recovery-hint
sim add model=KV1R segment=A stuck=1 loader=stream loader_delay=200 app_delay=200 prgs_step=4096 prgs_delay=100
mac_s1=${SIMOUT[0]#mac=}
sim add model=KV3R segment=B stuck=1 loader=older loader_delay=200 app_delay=200
mac_s2=${SIMOUT[0]#mac=}
wait_for 30000 status_is "$mac_s1" "Ready to program"
wait_for 30000 status_is "$mac_s2" "Ready to program"
rec_rows; printf 'recovery: %s\n' "${OUT[@]}"
check "two stuck units listed" "2" "$(rec_count)"
check "first unit ready" "Ready to program" "$(rec_col "$mac_s1" 5)"
check "second unit ready" "Ready to program" "$(rec_col "$mac_s2" 5)"
check "the unit's address in its row" "$(sim_field "$mac_s1" ip)" "$(rec_col "$mac_s1" 2)"
check "type column" "KV-xR" "$(rec_col "$mac_s2" 1)"
check "new rows are not ticked" "0" "$(ticked_count)"
check "the hint goes once a unit is found" "gone" "$(present "$HINT")"
check "Recover disabled while nothing is ticked" "0" "$(ctl_in "$REC" 1 enabled)"
shot_of 21-recovery-listed "$REC"
drv ltick "$REC" "$(rec_row "$mac_s1")" 1; sleep 0.3
check "ticking a ready unit enables Recover" "1" "$(ctl_in "$REC" 1 enabled)"
shot_of 22-recovery-ticked "$REC"
drv press 1 "$REC"
in_progress() { [[ "$(rec_col "$mac_s1" 5)" == "In progress("* ]]; }
if wait_for 20000 in_progress; then
  pass "the ticked unit shows its progress"
  shot_of 23-recovery-in-progress "$REC"
else
  fail "no progress shown: [$(rec_col "$mac_s1" 5)]"
fi
wait_for 40000 status_is "$mac_s1" "Finished!"
check "the ticked unit is recovered" "Finished!" "$(rec_col "$mac_s1" 5)"
check "the other unit is untouched" "Ready to program" "$(rec_col "$mac_s2" 5)"
check "after the batch no box stays ticked" "0" "$(ticked_count)"
check "Recover disabled after the batch" "0" "$(ctl_in "$REC" 1 enabled)"
shot_of 24-recovery-finished "$REC"
online() { [ "$(sim_field "$1" state)" = online ]; }
wait_for 10000 online "$mac_s1"
check "the recovered unit runs its firmware" "online" "$(sim_field "$mac_s1" state)"
check "the recovered unit holds 2.5" "2.5" "$(sim_field "$mac_s1" fw_info)"
check "the other unit stays in its boot loader" "loader" "$(sim_field "$mac_s2" state)"

# "Exit" with a unit left: asked; "No" stays.
drv press 2 "$REC"; sleep 1
box
contains "Exit asks about the unit left" "1 devices have not been recovered yet.  Do you wish to exit Recovery Mode anyway?" "$BOX"
screen 25-recovery-exit-question
drv press 7 Quillscan; sleep 0.5
check "No keeps the recovery dialog" "present" "$(present "$REC")"

# A unit that appears after the batch is listed too.
sim add model=KV2R segment=A stuck=1 loader=stream loader_delay=200 app_delay=200
mac_s3=${SIMOUT[0]#mac=}
wait_for 30000 status_is "$mac_s3" "Ready to program"
check "a unit that appears after the batch is listed" "Ready to program" "$(rec_col "$mac_s3" 5)"
check "three rows" "3" "$(rec_count)"
shot_of 26-recovery-later-unit "$REC"
drv press 2 "$REC"; sleep 1
box
contains "Exit counts both units left" "2 devices have not been recovered yet." "$BOX"
drv press 6 Quillscan
wait_for 10000 is_gone "$REC"
check "Yes ends the recovery dialog" "gone" "$(present "$REC")"
check "the hint went with it" "gone" "$(present "$HINT")"
check "the device list is empty after recovery mode" "0" "$(drv rows; echo ${#OUT[@]})"
# Recovery mode is off: nobody asks for units in boot loaders any more.
sleep 1
sim clearlog
sleep 4
sim log recovery
check "no recovery scan after the dialog" "0" "${#SIMOUT[@]}"
check "the units left stay in their boot loaders" "loader loader" "$(sim_field "$mac_s2" state) $(sim_field "$mac_s3" state)"

# ==== firmware update from the KV-xR page ====
drv cmd 1
wait_rows 3 10000; sleep 1.5
rows
select_device KV-1R .30
check "KV-xR page" "kvxr" "$(one page)"
check "the page offers the update to 2.0" "1" "$(field "$(one ctl 1017)" visible)"
# A device that does not answer the restart request: the update fails, the
# dialog says why and offers a new try.
sim set "$mac_up" fw_challenge=none
if open_fw; then
  pass "the firmware link opens the dialog"
  check "current version" "v2.000" "$(ctl_in "$FW" 1026 text)"
  check "latest version" "v2.005" "$(ctl_in "$FW" 1027 text)"
  check "Update enabled at first" "1" "$(ctl_in "$FW" 1 enabled)"
  check "Close enabled at first" "1" "$(ctl_in "$FW" 2 enabled)"
  check "the bar is empty at first" "" "$(ctl_in "$FW" 1028 text)"
  shot_of 30-fw-idle "$FW"
  drv press 1 "$FW"; sleep 0.5
  check "Update disabled while updating" "0" "$(ctl_in "$FW" 1 enabled)"
  check "Close disabled while updating" "0" "$(ctl_in "$FW" 2 enabled)"
  wait_for 20000 bar_is "Failed to update firmware"
  check "the bar tells the failure" "Failed to update firmware" "$(ctl_in "$FW" 1028 text)"
  contains "the dialog tells why" "The device sent no valid reboot challenge within 5 s (-7)." "$(ctl_in "$FW" 1033 text)"
  check "Update enabled for a new try" "1" "$(ctl_in "$FW" 1 enabled)"
  check "Close enabled after a failure" "1" "$(ctl_in "$FW" 2 enabled)"
  shot_of 31-fw-failed "$FW"

  # The new try, with a device that answers: progress, the wait for the
  # device, and the dialog ends once the device is back.
  sim set "$mac_up" fw_challenge=good
  sim clearlog
  drv press 1 "$FW"; sleep 0.3
  check "the new try clears the reason" "" "$(ctl_in "$FW" 1033 text)"
  mid=0 waiting=0 began=$SECONDS
  while [ $((SECONDS - began)) -lt 90 ] && is_present "$FW"; do
    t=$(ctl_in "$FW" 1028 text)
    p=${t%\%}
    if [ "$mid" = 0 ] && [[ "$p" =~ ^[0-9]+$ ]] && [ "$p" -ge 40 ] && [ "$p" -le 65 ]; then
      mid=1; shot_of 32-fw-updating "$FW"; echo "updating: $t"
    fi
    if [ "$waiting" = 0 ] && [[ "$p" =~ ^[0-9]+$ ]] && [ "$p" -ge 70 ]; then
      waiting=1; shot_of 33-fw-waiting "$FW"; echo "waiting: $t, $(ctl_in "$FW" 1033 text)"
      contains "after writing the dialog waits for the device" "Waiting for the device" "$(ctl_in "$FW" 1033 text)"
      check "no button while waiting" "0 0" "$(ctl_in "$FW" 1 enabled) $(ctl_in "$FW" 2 enabled)"
    fi
    if [ "$t" = "100%" ]; then shot_of 34-fw-device-seen "$FW"; fi
    if [ "$t" = "Failed to update firmware" ]; then fail "the update failed: $(ctl_in "$FW" 1033 text)"; break; fi
    sleep 0.2
  done
  echo "update took $((SECONDS - began)) s"
  check "the bar was seen part way" "1" "$mid"
  check "the wait for the device was seen" "1" "$waiting"
  check "the dialog ends once the device is back" "gone" "$(present "$FW")"
  check "the device runs 2.5" "2.5" "$(sim_field "$mac_up" fw_info)"
  written=$(sim_field "$mac_up" bytes_written)
  echo "bytes written: $written"
  check "the device wrote its image" "1" "$([ "${written:-0}" -gt 65536 ] 2>/dev/null && echo 1 || echo 0)"
  wait_for 15000 link_hidden
  check "the page shows the device at the new version (no link)" "0" "$(field "$(one ctl 1017)" visible)"
  check "the device is still listed" "1" "$([ "$(row_of KV-1R .30)" -ge 0 ] && echo 1 || echo 0)"
  shot 35-page-after-update
else
  fail "the firmware link opened no dialog"
fi

shot 37-main-after-update
check "-kill ends the program" "exit=0" "$(one run 30000 -kill)"
one wait "$pid" 10000 >/dev/null

# ==== 150 % display scaling; a device that already holds the file ====
# A second copy of the program with a file 1.900, which the KV-2R already
# holds and reports: the link is offered (below 2.0), the update finds nothing
# to write and ends with the device back.
set_dpi 144
zp() { local p=$1; echo "Z:${p//\//\\}"; }
mkdir -p "$work_fw/old"
cp "$work_fw/Quillscan.exe" "$work_fw/KV-xR_update.dll" "$work_fw/old/"
python3 "$(dirname "$0")/fw_hex.py" "$work_fw/old/kvxr-1.900.hex" 1.900 4096
drv exe "$(zp "$work_fw/old/Quillscan.exe")"
sim set "$mac_same" fw_file="$work_fw/old/kvxr-1.900.hex"
sim add model=KV3R ip=10.71.0.40 static=10.71.0.40 mask=255.255.240.0 gw=10.71.0.254 dhcp=0 segment=A version=1.500 \
  fw_challenge=none
drv start; pid=${OUT[0]#pid=}
v visible 30000
check "150 %: main window appears" "visible=1" "${V##* }"
wait_rows 4 10000; sleep 1.5
select_device KV-2R .25
shot 40-main-150
check "the page offers 1.900 to a device at 1.900 (below 2.0)" "1" "$(field "$(one ctl 1017)" visible)"
if open_fw; then
  check "150 %: current version" "v1.900" "$(ctl_in "$FW" 1026 text)"
  check "150 %: latest version" "v1.900" "$(ctl_in "$FW" 1027 text)"
  shot_of 41-fw-idle-150 "$FW"
  starts=$(sim_field "$mac_same" app_starts)
  drv press 1 "$FW"
  uptodate() { [[ "$(ctl_in "$FW" 1033 text)" == *"already"* ]] || is_gone "$FW"; }
  wait_for 60000 uptodate
  said=$(ctl_in "$FW" 1033 text)
  echo "up to date: $said"
  [ "$said" != missing ] && shot_of 42-fw-already-current-150 "$FW"
  wait_for 40000 is_gone "$FW"
  check "up to date: the dialog ends once the device is back" "gone" "$(present "$FW")"
  contains "up to date: the dialog says that nothing was written" "already had this firmware; nothing was written" "$said"
  check "up to date: nothing was written" "0" "$(sim_field "$mac_same" bytes_written)"
  check "up to date: the device started again" "$((starts + 1))" "$(sim_field "$mac_same" app_starts)"
else
  fail "the firmware link opened no dialog (up-to-date device)"
fi
select_device KV-3R .40
if open_fw; then
  drv press 1 "$FW"
  wait_for 20000 bar_is "Failed to update firmware"
  check "150 %: the failure is told" "Failed to update firmware" "$(ctl_in "$FW" 1028 text)"
  shot_of 43-fw-failed-150 "$FW"
  drv press 2 "$FW"
  wait_for 5000 is_gone "$FW"
  check "150 %: Close ends the dialog" "gone" "$(present "$FW")"
else
  fail "150 %: the firmware link opened no dialog"
fi
# The units left are unplugged, and two others plugged in once the hint shows.
sim remove "$mac_s2"
sim remove "$mac_s3"
drv syscmd 32784
wait_for 5000 is_present "$REC"
sleep 0.5
v ontop "$HINT"
check "150 %: the hint is in front of the dialog" "ontop=1" "${V%%$'\t'*}"
screen 44-recovery-hint-150
sim add model=KV1R segment=A stuck=1 loader=stream
mac_s2=${SIMOUT[0]#mac=}
sim add model=KV2R segment=B stuck=1 loader=older
mac_s3=${SIMOUT[0]#mac=}
wait_for 30000 status_is "$mac_s2" "Ready to program"
wait_for 30000 status_is "$mac_s3" "Ready to program"
check "150 %: both units are listed" "2" "$(rec_count)"
drv ltick "$REC" 0 1; sleep 0.3
shot_of 45-recovery-150 "$REC"
drv press 2 "$REC"; sleep 1
screen 46-recovery-exit-question-150
drv press 6 Quillscan
wait_for 10000 is_gone "$REC"
check "150 %: the recovery dialog ends" "gone" "$(present "$REC")"
check "-kill ends the program" "exit=0" "$(one run 30000 -kill)"
one wait "$pid" 10000 >/dev/null

echo "screenshots in $art"
echo "$passes passed, $fails failed"
[ "$fails" = 0 ]

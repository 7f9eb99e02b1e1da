#!/usr/bin/env bash
# The desktop program under Wine on a virtual display, against the simulator,
# inside a test network (run it through testnet/run.sh):
#
#   testnet/run.sh -- tests/app/ui_test.sh BUILD/win64/app/Quillscan.exe BUILD/win64/tests/app/quillscan-uidriver.exe
#
# Screenshots of the main window with each page go to the build root's
# artifacts/ui folder. QS_UI_WINEPREFIX names the Wine prefix (made on first
# use); it must be one that no other program uses at the same time.
set -u
exe=$(readlink -f "$1") driver=$(readlink -f "$2")
[ -n "${QS_NET_SIM:-}" ] || { echo "ui_test: run me inside testnet/run.sh" >&2; exit 2; }
br=$(dirname "$(dirname "$(dirname "$exe")")")   # BUILD/win64/app/Quillscan.exe -> BUILD
art=${QS_UI_ARTIFACTS:-$br/artifacts/ui}
mkdir -p "$art"
rm -f "$art"/*.png

fails=0 passes=0
pass() { passes=$((passes + 1)); echo "PASS $*"; }
fail() { fails=$((fails + 1)); echo "FAIL $*"; }
check() {  # name expected actual
  if [ "$2" = "$3" ]; then pass "$1"; else fail "$1: expected [$2] got [$3]"; fi
}

. "$(dirname "$0")/ui_env.sh"

# The program's message box (caption "Quillscan"): its texts in BOX, joined by
# blanks ("missing" when there is none).
box() { drv top Quillscan; BOX=$(printf '%s\n' "${OUT[@]:-missing}" | cut -f2- | tr '\n' ' '); }
says() {  # name text: the message box holds the text
  if [[ "$BOX" == *"$2"* ]]; then pass "$1"; else fail "$1: the message box says [$BOX]"; fi
}
focused() { drv focus; field "${OUT[0]:-}" parent; }

sim reset

# ==== command line: answer files and exit codes ====
mkdir -p "$work/with space"
zp() { local p=$1; echo "Z:${p//\//\\}"; }
check "-version writes 1,3, exit" "exit=-1" "$(one run 20000 -version "\"$(zp "$work/with space/v.txt")\"")"
check "-version file" "1,3" "$(cat "$work/with space/v.txt" 2>/dev/null)"
check "-version alone" "exit=-1" "$(one run 20000 -version)"
check "-string128 exit" "exit=-1" "$(one run 20000 -string128 "$(zp "$work/s128.txt")")"
check "-string128 writes the name" "Quillscan" "$(cat "$work/s128.txt" 2>/dev/null)"
check "-string 128 (space) exit" "exit=-1" "$(one run 20000 -string 128 "$(zp "$work/s128b.txt")")"
check "-string 128 (space) writes nothing" "absent" "$([ -e "$work/s128b.txt" ] && echo present || echo absent)"
check "-string with no string" "exit=-1" "$(one run 20000 /string9999 "$(zp "$work/s9999.txt")")"
check "-string with no string writes an empty file" "0" "$(stat -c %s "$work/s9999.txt" 2>/dev/null)"
check "unknown option" "exit=-1" "$(one run 20000 -bogus)"
check "-kill with nothing running" "exit=-2" "$(one run 20000 -kill)"
check "-xp -kill with nothing running" "exit=-2" "$(one run 20000 -xp -kill)"

# ==== start with no devices: the notice, then a late device ====
drv start; pid=${OUT[0]#pid=}
v visible 30000
check "main window appears" "visible=1" "${V##* }"
sleep 2.5
check "empty list shows the notice" "shown" "$(one notice)"
shot 01-no-devices
# The notice must not stay in front of a device reported after it was shown.
sim add model=RMT235 ip=10.71.0.5 segment=A
drv cmd 32777
wait_rows 1 5000
check "late device listed" "1" "$(drv rows; echo ${#OUT[@]})"
check "late device hides the notice" "hidden" "$(one notice)"

# ==== the list order ====
sim add model=KV3R ip=10.71.0.20 segment=A dhcp=1 mask=255.255.240.0 gw=10.71.0.254 version=1.500
mac_kv3=${SIMOUT[0]#mac=}
sim add model=RMT235 ip=10.72.0.5 segment=B
sim add model=RMT539 ip=10.71.0.66 segment=A
sim add model=RMT539 ip=192.168.2.10 segment=A
sim add model=A5411+ ip=10.71.0.40 segment=A
mac_a54=${SIMOUT[0]#mac=}
sim add model=A5261+ ip=10.72.0.9 segment=B
sim add model=KV2R ip=10.72.0.25 segment=B dhcp=0 static=10.72.0.25 mask=255.255.240.0 gw=10.72.0.254 ack=refuse
mac_kv2=${SIMOUT[0]#mac=}
sim add model=KV1R ip=10.71.0.30 static=10.71.0.30 mask=255.255.240.0 gw=10.71.0.254 dhcp=0 segment=A version=2.0
sim list; printf 'sim: %s\n' "${SIMOUT[@]}"
drv cmd 1
wait_rows 9 8000
sleep 1.5
echo "list after refresh:"; rows
order() { drv rows; for l in "${OUT[@]}"; do IFS=$'\t' read -r i n ip s <<<"$l"; printf '%s%s ' "$n" "$ip"; done; }
# Same model: last octet, then the whole address (the two RMT-2359 at .5:
# 10.71.0.5 before 10.72.0.5); models below the KV-xR ids each their own group;
# KV-xR models interleaved by address.
want="RMT-2359.5 RMT-2359.5 RMT-539.10 RMT-539.66 A5411+.40 A5261+.9 KV-3R.20 KV-2R.25 KV-1R.30 "
check "list order" "$want" "$(order)"
shot 02-list

# A repeated report updates the row in place, even with a new address.
sim set "$mac_a54" ip=10.71.0.3
drv cmd 32777; sleep 1.5
want_moved="RMT-2359.5 RMT-2359.5 RMT-539.10 RMT-539.66 A5411+.3 A5261+.9 KV-3R.20 KV-2R.25 KV-1R.30 "
check "repeated report keeps the row" "$want_moved" "$(order)"

# After REFRESH the device selected before is selected again.
drv select "$(row_of A5261+ .9)"; sleep 0.3
drv cmd 1; sleep 2
drv rows
sel=$(for l in "${OUT[@]}"; do IFS=$'\t' read -r i n ip s <<<"$l"; [ "$s" = 1 ] && printf '%s%s' "$n" "$ip"; done)
check "REFRESH selects the same device again" "A5261+.9" "$sel"
check "the list is in order after REFRESH" "RMT-2359.5 RMT-2359.5 RMT-539.10 RMT-539.66 A5411+.3 A5261+.9 KV-3R.20 KV-2R.25 KV-1R.30 " "$(order)"

# ==== first-family pages ====
drv select "$(row_of RMT-2359 .5)"; sleep 0.5
check "first-family page shown" "rmt" "$(one page)"
check "first-family address" "10.71.0.5" "$(field "$(one ctl 1006)" text)"
check "first-family in a local network: no warning" "" "$(field "$(one ctl 1030)" text)"
shot 03-page-first-family
drv select "$(row_of RMT-539 .10)"; sleep 0.5
check "out-of-network address" "192.168.2.10" "$(field "$(one ctl 1006)" text)"
check "out-of-network warning" "Target IP address is out of local network. RMT configuration utility may not be able to open in this PC." "$(field "$(one ctl 1030)" text)"
shot 03-page-first-family-out-of-network

# ==== KV-xR page ====
drv select "$(row_of KV-1R .30)"; sleep 0.5
check "KV-xR page shown" "kvxr" "$(one page)"
mac_kv1=$(field "$(one ctl 1014)" text)
echo "KV-1R page: serial=[$(field "$(one ctl 1013)" text)] mac=[$mac_kv1] ip=$(one ip 1006) mask=$(one ip 1007) gw=$(one ip 1008)"
check "KV-xR MAC" "$(sim_field "$mac_kv1" mac)" "$mac_kv1"
check "KV-xR static radio" "1" "$(field "$(one ctl 1005)" checked)"
check "KV-xR address field" "10.71.0.30" "$(one ip 1006)"
check "KV-xR netmask field" "255.255.240.0" "$(one ip 1007)"
check "KV-xR gateway field" "10.71.0.254" "$(one ip 1008)"
check "Revert disabled while unchanged" "0" "$(field "$(one ctl 1015)" enabled)"
check "Apply disabled while unchanged" "0" "$(field "$(one ctl 1016)" enabled)"
check "firmware link hidden at version 2.0" "0" "$(field "$(one ctl 1017)" visible)"
shot 04-page-kvxr

# ==== IDENTIFY: the simulator records a wink ====
sim clearlog
drv click 1012
sleep 1
sim winks
echo "winks: ${SIMOUT[*]:-none}"
check "IDENTIFY sends a wink" "1" "$([ ${#SIMOUT[@]} -ge 1 ] && echo 1 || echo 0)"
hw=$(sim_field "$mac_kv1" hwid)
check "the wink names this device" "1" "$(printf '%s\n' "${SIMOUT[@]}" | grep -c -m1 -e "hwid=$hw" -e "mac=$mac_kv1")"

# A KV-xR device that the library does not list (it answers only the
# program's own scan): no identifier to name, so no wink, and the user is told.
sim add model=KV1R ip=10.71.0.35 static=10.71.0.35 dhcp=0 mask=255.255.240.0 gw=10.71.0.254 segment=A mute=kv
mac_nolib=${SIMOUT[0]#mac=}
drv cmd 32777; sleep 1.5
drv select "$(row_of KV-1R .35)"; sleep 0.5
check "unlisted KV-xR device: its page" "kvxr" "$(one page)"
sim clearlog
drv click 1012
sleep 1
box
says "IDENTIFY without an identifier is refused" "The device was not asked to identify itself: the KV-xR library has not reported the device's hardware identifier, which the wink names.  Press REFRESH and try again."
screen 04a-identify-refused
drv close Quillscan; sleep 0.5
sim winks
check "no wink went out" "0" "${#SIMOUT[@]}"
sim remove "$mac_nolib"

# ==== the DHCP device: switching to Static-IP ====
drv select "$(row_of KV-3R .20)"; sleep 0.5
check "DHCP radio of a DHCP device" "1" "$(field "$(one ctl 1004)" checked)"
check "address fields disabled on DHCP" "0" "$(field "$(one ctl 1006)" enabled)"
check "firmware link shown at version 1.500" "1" "$(field "$(one ctl 1017)" visible)"
shot 05-page-kvxr-dhcp
drv click 1005; sleep 0.3
check "Static-IP enables the address fields" "1" "$(field "$(one ctl 1006)" enabled)"
check "Static-IP: Revert enabled" "1" "$(field "$(one ctl 1015)" enabled)"
drv setip 1006 172.20.5.9; sleep 0.2
check "suggested netmask for 172.20.5.9" "255.255.0.0" "$(one ip 1007)"
check "suggested gateway for 172.20.5.9" "172.20.0.1" "$(one ip 1008)"
drv setip 1006 8.8.8.8; sleep 0.2
check "8.8.8.8 leaves the netmask" "255.255.0.0" "$(one ip 1007)"
drv setip 1006 10.71.0.77; sleep 0.2
check "suggested netmask for 10.x" "255.0.0.0" "$(one ip 1007)"
check "suggested gateway for 10.x" "10.0.0.1" "$(one ip 1008)"
drv setip 1007 0.0.0.0
check "netmask 0.0.0.0: Apply disabled" "0" "$(field "$(one ctl 1016)" enabled)"
check "netmask 0.0.0.0: Revert enabled" "1" "$(field "$(one ctl 1015)" enabled)"
drv setip 1007 255.255.240.0
drv setip 1008 10.71.0.254
check "Apply enabled when changed and valid" "1" "$(field "$(one ctl 1016)" enabled)"
# Addresses a device cannot live at are refused with the field focused;
# nothing is sent.
sim clearlog
drv setip 1006 10.71.0.0; drv setip 1007 255.255.240.0; drv setip 1008 10.71.0.254
check "the subnet's own address: Apply enabled" "1" "$(field "$(one ctl 1016)" enabled)"
drv click 1016; sleep 1
box
says "the subnet's own address is refused" "The new network settings were not sent: the address 10.71.0.0 is the subnet's own address for netmask 255.255.240.0.  Correct the field and press Apply again."
screen 05a-address-refused
drv close Quillscan; sleep 0.5
check "the address field is focused" "1006" "$(focused)"
drv setip 1006 0.0.0.0
drv click 1016; sleep 1
box
says "a blank address is refused" "the address 0.0.0.0 is no address for a device"
drv close Quillscan; sleep 0.5
check "the address field is focused again" "1006" "$(focused)"
drv setip 1006 10.71.0.77; drv setip 1007 255.255.240.0; drv setip 1008 10.71.15.255
drv click 1016; sleep 1
box
says "the subnet's broadcast as gateway is refused" "the gateway 10.71.15.255 is the subnet's broadcast address for netmask 255.255.240.0"
drv close Quillscan; sleep 0.5
check "the gateway field is focused" "1008" "$(focused)"
# A gateway in another subnet: asked, and "No" sends nothing.
drv setip 1008 10.72.0.254
drv click 1016; sleep 1
box
says "a gateway outside the subnet is warned about" "Warning: the gateway 10.72.0.254 is outside the subnet of 10.71.0.77 with netmask 255.255.240.0: the device will not reach it.  Send these settings all the same?"
screen 05b-gateway-outside
drv press 7 Quillscan; sleep 0.5
check "No keeps the gateway field focused" "1008" "$(focused)"
sim log
check "nothing was sent for refused settings" "0" "$(printf '%s\n' "${SIMOUT[@]}" | grep -c 'kind=\(setcfg\|reboot\)')"
drv click 1015; sleep 0.3
check "Revert restores DHCP" "1" "$(field "$(one ctl 1004)" checked)"
check "Revert restores the address" "10.71.0.20" "$(one ip 1006)"

# ==== A&pply ====
# A refusing device: a message box, and the fields stay.
drv select "$(row_of KV-2R .25)"; sleep 0.5
drv setip 1006 10.72.0.26; drv setip 1007 255.255.240.0; drv setip 1008 10.72.0.254
drv click 1016
sleep 5
box
says "a refused Apply is told" "The device refused the new network settings.  Nothing was changed."
screen 06-apply-failed
drv close Quillscan; sleep 0.5
check "fields stay after a failed Apply" "10.72.0.26" "$(one ip 1006)"
check "Apply stays enabled after a failure" "1" "$(field "$(one ctl 1016)" enabled)"
# A device that takes the settings without confirming them.
sim set "$mac_kv2" ack=none
drv click 1016
sleep 6
box
says "an unconfirmed Apply is told" "The device did not confirm the new network settings."
drv close Quillscan; sleep 0.5
check "fields stay after an unconfirmed Apply" "10.72.0.26" "$(one ip 1006)"
# A device that takes the settings but does not restart: told, with why, and
# no progress dialog waits for a restart that does not come.
sim set "$mac_kv2" ack=accept mute=reboot
drv click 1016
sleep 5
check "no progress dialog when the restart failed" "missing" "$(one top Progress)"
box
says "a failed restart is told" "The device stored the new network settings, but it did not restart: the device sent no valid challenge within 3 s (error -210).  The new settings take effect at its next restart; until then it keeps its present ones."
screen 06b-restart-failed
drv close Quillscan; sleep 0.5
check "the settings wait in the device" "1" "$(sim_field "$mac_kv2" pending)"
check "fields stay after a failed restart" "10.72.0.26" "$(one ip 1006)"

# A device that takes the settings and does not come back within 30 s: the
# progress dialog gives up and the row goes.
sim set "$mac_kv2" mute=- reboot_ms=120000
drv click 1016
began=$SECONDS
sleep 3
v top Progress
if [ "$V" != missing ]; then
  while [ $((SECONDS - began)) -lt 60 ] && [ "$(one top Progress)" != missing ]; do sleep 1; done
  waited=$((SECONDS - began))
  echo "progress dialog ended after about $waited s"
  check "progress dialog gives up after 30 s" "1" "$([ $waited -ge 29 ] && [ $waited -lt 45 ] && echo 1 || echo 0)"
  check "a device that did not come back leaves the list" "-1" "$(row_of KV-2R .25)"
  check "a device that did not come back leaves the list (new address)" "-1" "$(row_of KV-2R .26)"
else
  box; fail "no progress dialog after an accepted Apply; message box: $BOX"
  drv close Quillscan
fi

# A device that takes the settings: the progress dialog waits for a report
# with the new settings, the list shows it again at its new address. While it
# waits, the device answers as it did before its restart (a scan that heard
# it before, a reply sent as it went down): that is not taken for its return.
drv select "$(row_of KV-3R .20)"; sleep 0.5
drv click 1005; sleep 0.2
drv setip 1006 10.71.0.77; drv setip 1007 255.255.240.0; drv setip 1008 10.71.0.254
shot 07-page-kvxr-static
hw3=$(sim_field "$mac_kv3" hwid)
sim set "$mac_kv3" reboot_ms=120000
sim clearlog
drv click 1016
sleep 2
v top Progress
if [ "$V" != missing ]; then
  drv top Progress
  echo "progress dialog: ${OUT[*]}"
  check "progress caption" "Changing network configuration..." "$(printf '%s\n' "${OUT[@]}" | awk -F'\t' '$1==1029{print $2}')"
  sim remove "$mac_kv3"
  sim add model=KV3R mac="$mac_kv3" hwid="$hw3" segment=A dhcp=1 ip=10.71.0.20 mask=255.255.240.0 gw=10.71.0.254 version=1.500
  sleep 8
  check "a report with the old settings does not end the wait" "present" "$([ "$(one top Progress)" != missing ] && echo present || echo gone)"
  screen 08-progress
  sim remove "$mac_kv3"
  sim add model=KV3R mac="$mac_kv3" hwid="$hw3" segment=A dhcp=0 ip=10.71.0.77 static=10.71.0.77 mask=255.255.240.0 \
    gw=10.71.0.254 version=1.500
  t=0; while [ $t -lt 40 ] && [ "$(one top Progress)" != missing ]; do sleep 1; t=$((t + 1)); done
  check "the report with the new settings ends the wait" "gone" "$([ "$(one top Progress)" != missing ] && echo present || echo gone)"
  sleep 1
  check "device moved to the static address" "10.71.0.77" "$(sim_field "$mac_kv3" ip)"
  check "list shows it again at .77" "1" "$([ "$(row_of KV-3R .77)" -ge 0 ] && echo 1 || echo 0)"
  shot 09-after-apply
else
  box
  screen 08-apply-message
  drv close Quillscan; sleep 0.5
  fail "Apply round trip: no progress dialog; message box: $BOX"
fi

# ==== About ====
drv cmd 57664; sleep 1
drv top About Quillscan
echo "about: ${OUT[*]}"
check "About shows the version" "1" "$(printf '%s\n' "${OUT[@]}" | grep -c $'^1031\tv1.3.0.0$')"
screen 10-about
drv close About Quillscan; sleep 0.5

# ==== tray icon ====
drv tray 201; sleep 0.5
v find 1000
check "tray click hides the window" "visible=0" "${V##* }"
drv tray 201; sleep 2.5
v find 1000
check "tray click shows it again" "visible=1" "${V##* }"
check "and scans anew" "1" "$(drv rows; [ ${#OUT[@]} -ge 8 ] && echo 1 || echo 0)"

# ==== second instance and -kill ====
drv cmd 2; sleep 0.5                 # Cancel: hidden in the tray
v find 1000
check "Cancel hides the window" "visible=0" "${V##* }"
check "second instance exits -3" "exit=-3" "$(one run 30000)"
sleep 0.5
v find 1000
check "second instance shows the first" "visible=1" "${V##* }"
check "-kill ends the running one" "exit=0" "$(one run 30000 -kill)"
check "the running one exits 0" "exit=0" "$(one wait "$pid" 10000)"
check "no main window left" "none" "$(one find 500)"
check "-kill when it is gone" "exit=-2" "$(one run 30000 -kill)"

# ==== closing with Shift held ends the program ====
drv start -xp; pid=${OUT[0]#pid=}
v visible 30000
drv cmd 2; sleep 0.5
v find 1000
check "closing without Shift keeps it running" "visible=0" "${V##* }"
drv tray 201; sleep 1.5
drv shiftcancel
check "closing with Shift exits 0" "exit=0" "$(one wait "$pid" 10000)"

# ==== firmware files next to the program ====
# A copy of the program with a KV-xR firmware file 2.005 and a file the
# library refuses: the page offers the update to the 2.0 device.
mkdir -p "$work/fw"
cp "$exe" "$(dirname "$exe")/KV-xR_update.dll" "$work/fw/"
python3 - "$work/fw/kvxr-2.5.hex" "$work/fw/broken.hex" <<'PY'
import sys
data = b'fw.info{"model":"KV-xR","version":"2.5"}\0'
lines = []
for off in range(0, len(data), 16):
    chunk = data[off:off + 16]
    addr = 0x4000 + off
    rec = bytes([len(chunk), addr >> 8, addr & 0xFF, 0]) + chunk
    lines.append(":" + rec.hex().upper() + "%02X" % ((-sum(rec)) & 0xFF))
lines.append(":00000001FF")
open(sys.argv[1], "w").write("\n".join(lines) + "\n")
open(sys.argv[2], "w").write("this is no firmware\n")
PY
drv exe "$(zp "$work/fw/Quillscan.exe")"
drv start; pid=${OUT[0]#pid=}
v visible 30000
wait_rows 8 8000; sleep 1
drv select "$(row_of KV-1R .30)"; sleep 0.5
check "firmware 2.005 next to the program: link shown for 2.0" "1" "$(field "$(one ctl 1017)" visible)"
shot 11-page-kvxr-firmware-link
check "-kill ends the copy" "exit=0" "$(one run 30000 -kill)"
one wait "$pid" 10000 >/dev/null

echo "screenshots in $art"
echo "$passes passed, $fails failed"
[ "$fails" = 0 ]

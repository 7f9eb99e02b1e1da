#!/usr/bin/env bash
# The Windows installer under Wine, silently, in a prefix of its own: installs
# into a folder whose name has a space, with a firmware file beside the
# installer; checks the files, the Start-menu shortcuts, the Add/Remove
# Programs entry and the firewall commands; runs the installed console front
# end on the installed firmware file; reinstalls over it with other firmware
# files after the technician put one of his own into the program folder;
# uninstalls silently and checks that all of it is gone but his file and the
# folder holding it, and which firewall rules were deleted. On the way, a
# silent reinstall or uninstall while the installed program is held open must
# fail. Last, an installation without files of the user's leaves no folder.
#
# Wine's netsh has no advfirewall, so the prefix's netsh.exe is replaced by a
# stand-in that records its arguments (netsh_recorder.c); WINEDLLOVERRIDES
# makes Wine run that file instead of its built-in netsh. The installer itself
# calls the system's netsh and knows nothing of the test.
#
# Sends nothing to any network: the front end only reads a file.
#
# usage: installer_test.sh SETUP NETSH_RECORDER FILE_HOLDER HEX PROGRAM LIBRARY CONSOLE PORT_HEADER
set -u
setup=$1 recorder=$2 holder=$3 hex=$4 program=$5 library=$6 console=$7 port_header=$8
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)

failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
pass() { echo "ok: $*"; }
check() {  # description, command...
  local what=$1; shift
  if "$@"; then pass "$what"; else fail "$what"; fi
}

wine=$("$root/scripts/wine-loader.sh" "$setup") || exit 1
port=$(sed -n 's/.*kBootPort = \([0-9]*\);.*/\1/p' "$port_header")
[ -n "$port" ] || { echo "no kBootPort in $port_header"; exit 1; }

# The run's prefix when there is one (copied: this test changes it), else a new one.
template=
for p in "${QS_WINE_TEMPLATE:-}" "${WINEPREFIX:-}"; do
  if [ -n "$p" ] && [ -f "$p/system.reg" ]; then template=$p; break; fi
done

t=$(mktemp -d /tmp/qs-installer.XXXXXX)
export WINEPREFIX=$t/prefix WINEDEBUG=-all WINEDLLOVERRIDES="netsh.exe=n"
unset QS_WINE_TEMPLATE DISPLAY
cleanup() {
  wineserver -k >/dev/null 2>&1
  rm -rf "$t"
}
trap cleanup EXIT

if [ -n "$template" ]; then
  cp -a --reflink=auto "$template" "$WINEPREFIX" || { echo "could not copy the prefix $template"; exit 1; }
else
  "$wine" wineboot -i </dev/null >"$t/wineboot.log" 2>&1
  wineserver -w
fi
[ -f "$WINEPREFIX/system.reg" ] || { echo "no Wine prefix"; exit 1; }

# The stand-in goes where the installer's $SYSDIR points: system32, or syswow64
# for a 32-bit installer in a 64-bit prefix.
sysdir=$WINEPREFIX/drive_c/windows/system32
if [ "$wine" = /usr/lib/wine/wine ] && [ -d "$WINEPREFIX/drive_c/windows/syswow64" ]; then
  sysdir=$WINEPREFIX/drive_c/windows/syswow64
fi
cp "$recorder" "$sysdir/netsh.exe" || exit 1

# What a technician gets: the installer and firmware files in one folder.
# Names with spaces and a letter outside ASCII; a folder whose name ends in
# .hex is no firmware file.
spare='spare fw ü.hex'
mkdir -p "$t/dist/not firmware.hex"
cp "$setup" "$t/dist/Quillscan-setup.exe"
cp "$hex" "$t/dist/test-firmware.hex"
cp "$hex" "$t/dist/$spare"
# A later version handed out with one file of the first and a new one.
mkdir -p "$t/dist2"
cp "$setup" "$t/dist2/Quillscan-setup.exe"
cp "$hex" "$t/dist2/test-firmware.hex"
cp "$hex" "$t/dist2/extra.hex"

target='C:\Quillscan Test'
inst=$WINEPREFIX/drive_c/Quillscan\ Test
menu=$WINEPREFIX/drive_c/ProgramData/Microsoft/Windows/Start\ Menu/Programs/Quillscan
list="$inst/Installed firmware.txt"
# The technician's own firmware file in the program folder, unlike any of the
# installer's, and one outside it that a changed list names.
user_hex="$inst/user fw.hex"
printf ':00000001FF\r\n' >"$t/user-fw.hex"
printf 'not for the uninstaller\n' >"$t/outside.hex"
outside=$WINEPREFIX/drive_c/outside.hex

wine_quiet() { "$wine" "$@" </dev/null >>"$t/wine.log" 2>&1; }
run_wine() {  # log file, Windows command line... ; waits for every process of the prefix
  local log=$1; shift
  "$wine" "$@" </dev/null >"$log" 2>&1
  local rc=$?
  wineserver -w
  return $rc
}

# /D= takes the rest of the command line as it is, spaces and all, so the
# installer is started through cmd with the line written out.
export QS_NETSH_LOG="Z:$t/netsh-install.log"
check "silent install exits 0" run_wine "$t/install.log" cmd.exe /c "Z:${t//\//\\}\\dist\\Quillscan-setup.exe /S /D=$target"

for f in Quillscan.exe KV-xR_update.dll quillscan-cli.exe Uninstall.exe; do
  check "installed $f" test -f "$inst/$f"
done
check "Quillscan.exe is the program built" cmp -s "$program" "$inst/Quillscan.exe"
check "KV-xR_update.dll is the library built" cmp -s "$library" "$inst/KV-xR_update.dll"
check "quillscan-cli.exe is the front end built" cmp -s "$console" "$inst/quillscan-cli.exe"
check "the firmware file beside the installer is installed beside the program" \
  cmp -s "$hex" "$inst/test-firmware.hex"
check "so is the second, its name with spaces" cmp -s "$hex" "$inst/$spare"
check "a folder named *.hex is not copied" test ! -e "$inst/not firmware.hex"
# The list of the installer's own firmware files: one name a line, UTF-16LE.
listed() { iconv -f UTF-16LE -t UTF-8 "$list" | tr -d '\r' | LC_ALL=C sort; }
same_list() {  # expected names...
  if diff -u <(printf '%s\n' "$@" | LC_ALL=C sort) <(listed); then return 0; fi
  echo "(expected - / listed +)"; return 1
}
check "the installer lists the two firmware files it copied" same_list test-firmware.hex "$spare"
check "Start-menu shortcut" test -f "$menu/Quillscan.lnk"
check "the shortcut starts the installed program" \
  grep -qaF 'C:\Quillscan Test\Quillscan.exe' "$menu/Quillscan.lnk"
check "Start-menu shortcut of the uninstaller" test -f "$menu/Uninstall Quillscan.lnk"
check "Add/Remove Programs entry" grep -qF \
  '"QuietUninstallString"="\"C:\\Quillscan Test\\Uninstall.exe\" /S"' "$WINEPREFIX/system.reg"

cat >"$t/expected-install" <<EOF
advfirewall firewall delete rule name="Quillscan" dir=in
advfirewall firewall delete rule name="Quillscan console" dir=in
advfirewall firewall delete rule name="Quillscan boot loader messages" dir=in
advfirewall firewall add rule name="Quillscan" dir=in action=allow program="$target\\Quillscan.exe" enable=yes profile=any
advfirewall firewall add rule name="Quillscan console" dir=in action=allow program="$target\\quillscan-cli.exe" enable=yes profile=any
advfirewall firewall add rule name="Quillscan boot loader messages" dir=in action=allow protocol=UDP localport=$port enable=yes profile=any
EOF
if diff -u "$t/expected-install" "$t/netsh-install.log"; then pass "firewall rules added"
else fail "firewall rules added (expected - / recorded +)"; fi

# The installed front end, started from the installed folder, loads the
# installed library and reads the installed firmware file.
(cd "$inst" && "$wine" 'C:\Quillscan Test\quillscan-cli.exe' image test-firmware.hex --json \
   </dev/null >"$t/image.out" 2>"$t/image.err")
echo "image: $(cat "$t/image.out")"
check "the installed front end reads the installed firmware file" \
  grep -qF '{"status":0,"format":"intel-hex","version":[2,10],' "$t/image.out"
# The installed program starts from the installed folder with the installed
# library (it imports it) and answers "-version" into a file, then ends
# without opening a window or sending anything.
(cd "$inst" && "$wine" 'C:\Quillscan Test\Quillscan.exe' -version 'C:\Quillscan Test\version.txt' \
   </dev/null >"$t/version.out" 2>&1)
rc=$?
echo "Quillscan.exe -version: exit $rc, \"$(cat "$inst/version.txt" 2>/dev/null)\""
check "the installed program starts and ends as -version asks (-1)" test "$rc" = 255
check "the installed program answers its version" test "$(tr -d '\r\n' <"$inst/version.txt" 2>/dev/null)" = 1,3
rm -f "$inst/version.txt"
wineserver -w

# A reinstall or an uninstall while a file of the installation is held open
# (the program running) must fail, not skip the file and report success.
rm -f "$t/held" "$t/release"
"$wine" "$holder" "$target\\Quillscan.exe" "Z:$t/release" "Z:$t/held" </dev/null >"$t/holder.log" 2>&1 &
hpid=$!
for _ in $(seq 1 300); do [ -e "$t/held" ] || ! kill -0 "$hpid" 2>/dev/null && break; sleep 0.1; done
if [ -e "$t/held" ]; then
  export QS_NETSH_LOG="Z:$t/netsh-reinstall.log"
  "$wine" cmd.exe /c "Z:${t//\//\\}\\dist\\Quillscan-setup.exe /S /D=$target" </dev/null >"$t/reinstall.log" 2>&1
  rc=$?
  check "a silent reinstall over a program in use fails (exit code $rc)" test "$rc" -ne 0
  # _?= runs the uninstaller in place and waits for it (else it runs a copy
  # of itself and returns at once).
  export QS_NETSH_LOG="Z:$t/netsh-uninstall-held.log"
  (cd "$inst" && "$wine" cmd.exe /c "Uninstall.exe /S _?=$target" </dev/null >"$t/uninstall-held.log" 2>&1)
  rc=$?
  check "a silent uninstall of a program in use fails (exit code $rc)" test "$rc" -ne 0
  check "and leaves the uninstaller" test -f "$inst/Uninstall.exe"
  check "and the installed firmware files" test -f "$inst/test-firmware.hex" -a -f "$list"
  check "and the firewall rules" test ! -s "$t/netsh-uninstall-held.log"
  # the server is still running: ask it, its registry file is not written yet
  check "and the Add/Remove Programs entry" wine_quiet reg.exe query \
    'HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Quillscan' /v QuietUninstallString
  check "and the Start-menu shortcut" test -f "$menu/Quillscan.lnk"
else
  fail "the holder did not hold the installed program"
fi
touch "$t/release"
wait "$hpid"
wineserver -w

# The technician puts a firmware file of his own into the program folder, then
# installs a later version over it, with other firmware files beside it.
cp "$t/user-fw.hex" "$user_hex"
export QS_NETSH_LOG="Z:$t/netsh-upgrade.log"
check "silent reinstall exits 0" run_wine "$t/upgrade.log" cmd.exe /c "Z:${t//\//\\}\\dist2\\Quillscan-setup.exe /S /D=$target"
check "the reinstall installs its new firmware file" cmp -s "$hex" "$inst/extra.hex"
check "the list holds what both installers copied, each once, and not the user's file" \
  same_list test-firmware.hex "$spare" extra.hex
check "the user's firmware file is untouched by the reinstall" cmp -s "$t/user-fw.hex" "$user_hex"

# Lines the installer never writes name nothing the uninstaller may delete.
cp "$t/outside.hex" "$outside"
printf '%s\r\n' '*.hex' '..\outside.hex' '' | iconv -t UTF-16LE >>"$list"
# Nor do the pieces of lines longer than the uninstaller reads at once (no
# name is that long); around that length, one piece is the user's file name.
for n in $(seq 1016 1031); do
  printf '%s%s\r\n' "$(head -c "$n" /dev/zero | tr '\0' a)" 'user fw.hex' | iconv -t UTF-16LE >>"$list"
done

export QS_NETSH_LOG="Z:$t/netsh-uninstall.log"
check "silent uninstall exits 0" run_wine "$t/uninstall.log" "$target\\Uninstall.exe" /S
cat >"$t/expected-uninstall" <<EOF
advfirewall firewall delete rule name="Quillscan" dir=in program="$target\\Quillscan.exe"
advfirewall firewall delete rule name="Quillscan console" dir=in program="$target\\quillscan-cli.exe"
advfirewall firewall delete rule name="Quillscan boot loader messages" dir=in protocol=UDP localport=$port
EOF
if diff -u "$t/expected-uninstall" "$t/netsh-uninstall.log"; then pass "firewall rules deleted"
else fail "firewall rules deleted (expected - / recorded +)"; fi
for f in Quillscan.exe KV-xR_update.dll quillscan-cli.exe Uninstall.exe test-firmware.hex "$spare" extra.hex; do
  check "uninstalled $f" test ! -e "$inst/$f"
done
check "the list of installed firmware files removed" test ! -e "$list"
check "the user's firmware file stays, unchanged" cmp -s "$t/user-fw.hex" "$user_hex"
check "so does the folder holding it, with nothing else in it" \
  test "$(ls -A "$inst" 2>&1)" = "user fw.hex"
check "a file outside the folder named by a changed list stays" cmp -s "$t/outside.hex" "$outside"
check "Start-menu folder removed" test ! -e "$menu"
check "Add/Remove Programs entry removed" \
  bash -c '! grep -qF "Uninstall\\\\Quillscan]" "$1"' _ "$WINEPREFIX/system.reg"

# Without files of the user's, nothing stays. A firmware file beside the
# installer that cannot be read (held open) is neither copied nor listed.
rm -rf "$inst"
cp "$hex" "$t/dist/held fw.hex"
rm -f "$t/held" "$t/release"
"$wine" "$holder" "Z:${t//\//\\}\\dist\\held fw.hex" "Z:$t/release" "Z:$t/held" </dev/null >"$t/holder2.log" 2>&1 &
hpid=$!
for _ in $(seq 1 300); do [ -e "$t/held" ] || ! kill -0 "$hpid" 2>/dev/null && break; sleep 0.1; done
check "the holder holds the firmware file" test -e "$t/held"
export QS_NETSH_LOG="Z:$t/netsh-install2.log"
"$wine" cmd.exe /c "Z:${t//\//\\}\\dist\\Quillscan-setup.exe /S /D=$target" </dev/null >"$t/install2.log" 2>&1
check "second silent install exits 0" test $? = 0
touch "$t/release"
wait "$hpid"
wineserver -w
check "and installs the firmware files" test -f "$inst/test-firmware.hex" -a -f "$inst/$spare"
check "but not the one held open" test ! -e "$inst/held fw.hex"
check "and lists only those it copied" same_list test-firmware.hex "$spare"
export QS_NETSH_LOG="Z:$t/netsh-uninstall2.log"
check "second silent uninstall exits 0" run_wine "$t/uninstall2.log" "$target\\Uninstall.exe" /S
check "installation folder removed" test ! -e "$inst"

if [ "$failures" -ne 0 ]; then
  for f in install.log upgrade.log uninstall.log install2.log uninstall2.log image.err; do
    [ -s "$t/$f" ] && { echo "--- $f"; tail -n 20 "$t/$f"; }
  done
  echo "$failures check(s) failed"
  exit 1
fi
echo "all checks passed"

#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need. Idempotent: nothing is
# fetched when every package is already there.
#
# A package mirror caught in the middle of a sync can fail one index for a while:
# the index download is retried, then the install goes on with what arrived, and
# stops only when a needed package cannot be installed, naming it.
set -uo pipefail
cd "$(dirname "$0")/.."

# Every tool the scripts and tests call, by package:
#   cmake ninja-build g++ (build-essential), pkg-config, libssl-dev (SHA-1), uuid-dev,
#   picojson-dev, googletest; ip (iproute2); srec_cat (srecord); objcopy, as, ld
#   (binutils); Xvfb (xvfb); xwd (x11-apps); import, convert (imagemagick); clang and
#   its runtime for the fuzzers; killall, fuser (psmisc); ps, pkill (procps); python3;
#   bc (icon drawing); od, head, stat, timeout (coreutils); flock (util-linux); awk, sed;
#   makensis (nsis) for the Windows installer.
native=(build-essential cmake ninja-build pkg-config libssl-dev uuid-dev picojson-dev
        googletest libgtest-dev iproute2 srecord binutils xvfb x11-apps imagemagick
        clang libclang-rt-14-dev psmisc procps python3 bc coreutils util-linux mawk sed)
cross=(g++-mingw-w64-i686-posix gcc-mingw-w64-i686-posix binutils-mingw-w64-i686 mingw-w64-i686-dev
       g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64
       nsis)
# wine64 runs the 64-bit build of the same sources everywhere; wine32 runs the
# product build, and only where the kernel runs 32-bit programs.
wine=(wine wine64 fonts-wine)  # fonts-wine: Tahoma and Marlett for readable screenshots
wine32=(wine32:i386)

say() { echo "install-deps: $*" >&2; }
installed() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q 'install ok installed'; }
missing_of() { local p; for p in "$@"; do installed "$p" || echo "$p"; done; }

export DEBIAN_FRONTEND=noninteractive
updated=""
update_indexes() {  # retried: a half-synced mirror fails an index for a while
  local try
  for try in 1 2 3 4; do
    if apt-get update -qq; then updated=1; return 0; fi
    say "package index download failed (attempt $try of 4)"
    [ "$try" -lt 4 ] && sleep $((try * 10))
  done
  say "going on with the package indexes that did arrive"
  updated=1
}

install_all() {  # packages...; on failure names the ones that cannot be installed
  [ $# -eq 0 ] && return 0
  [ -n "$updated" ] || update_indexes
  apt-get install -y -qq --no-install-recommends "$@" >/dev/null 2>"${TMPDIR:-/tmp}/qs-apt.err" && return 0
  local p bad=()
  for p in "$@"; do
    installed "$p" && continue
    apt-get install -y -qq --no-install-recommends "$p" >/dev/null 2>>"${TMPDIR:-/tmp}/qs-apt.err" || bad+=("$p")
  done
  [ ${#bad[@]} -eq 0 ] && return 0
  say "cannot install: ${bad[*]}"
  tail -n 5 "${TMPDIR:-/tmp}/qs-apt.err" >&2
  return 1
}

# Does this kernel run 32-bit programs? A five-instruction i386 program tells.
runs_32bit() {
  local d rc
  command -v as >/dev/null && command -v ld >/dev/null || return 1
  d=$(mktemp -d)
  printf '.globl _start\n_start:\n movl $1,%%eax\n xorl %%ebx,%%ebx\n int $0x80\n' >"$d/t.s"
  as --32 -o "$d/t.o" "$d/t.s" 2>/dev/null && ld -m elf_i386 -o "$d/t" "$d/t.o" 2>/dev/null \
    && "$d/t" 2>/dev/null
  rc=$?
  rm -rf "$d"
  return $rc
}

need=($(missing_of "${native[@]}" "${cross[@]}" "${wine[@]}"))
if [ ${#need[@]} -gt 0 ]; then
  [ "$(id -u)" = 0 ] || { say "need root to install: ${need[*]}"; exit 1; }
  install_all "${need[@]}" || exit 1
fi

if runs_32bit; then
  need=($(missing_of "${wine32[@]}"))
  if [ ${#need[@]} -gt 0 ]; then
    [ "$(id -u)" = 0 ] || { say "need root to install: ${need[*]}"; exit 1; }
    if ! dpkg --print-foreign-architectures | grep -qx i386; then
      dpkg --add-architecture i386
      updated=""
    fi
    # The i386 libraries can lag their 64-bit twins on a mirror mid-sync; then
    # the Windows tests run the 64-bit build, as on kernels without 32-bit support.
    install_all "${need[@]}" || say "32-bit Wine is not installable now; the Windows tests will run the 64-bit build"
  fi
fi
exit 0

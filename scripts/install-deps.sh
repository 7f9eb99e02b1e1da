#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need. Idempotent: nothing is
# fetched when every package is already there.
set -euo pipefail
native=(build-essential cmake ninja-build pkg-config libssl-dev uuid-dev picojson-dev
        googletest libgtest-dev iproute2 srecord binutils xvfb x11-apps imagemagick
        clang libclang-rt-14-dev psmisc procps python3)
cross=(g++-mingw-w64-i686-posix gcc-mingw-w64-i686-posix binutils-mingw-w64-i686 mingw-w64-i686-dev
       g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64)
# wine32 runs the product build where the kernel runs 32-bit code; wine64 runs
# the 64-bit build of the same sources everywhere else.
wine=(wine wine32:i386 wine64 fonts-wine)  # fonts-wine: Tahoma and Marlett for readable screenshots

missing=()
for p in "${native[@]}" "${cross[@]}" "${wine[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

if [ "$(id -u)" != 0 ]; then echo "install-deps: need root to install: ${missing[*]}" >&2; exit 1; fi
if ! dpkg --print-foreign-architectures | grep -qx i386; then dpkg --add-architecture i386; fi
export DEBIAN_FRONTEND=noninteractive
apt-get update -qq
apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null

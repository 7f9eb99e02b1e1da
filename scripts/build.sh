#!/usr/bin/env bash
# Configures and builds the configurations named on the command line:
#   native  plain native build (library, console front end, simulator, tests)
#   asan    native build with AddressSanitizer and UndefinedBehaviorSanitizer
#   win32   the product: 32-bit Windows, static runtime
#   wintest the Windows build that runs the tests under Wine: win32 where the
#           kernel runs 32-bit code, else a 64-bit build of the same sources
#   all     every one of them
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
jobs=${QS_JOBS:-2}

configure() {  # dir, extra cmake arguments...
  local dir=$1; shift
  if [ ! -f "$dir/build.ninja" ]; then
    cmake -S "$root" -B "$dir" -G Ninja "$@" >"$dir.configure.log" 2>&1 || { cat "$dir.configure.log"; return 1; }
  fi
}

build() {  # name
  case "$1" in
    native) configure build/native -DCMAKE_BUILD_TYPE=RelWithDebInfo && ninja -C build/native -j"$jobs" ;;
    asan) configure build/asan -DCMAKE_BUILD_TYPE=Debug -DQS_SANITIZE=ON && ninja -C build/asan -j"$jobs" ;;
    win32) configure build/win32 -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-i686.cmake" -DCMAKE_BUILD_TYPE=Release &&
             ninja -C build/win32 -j"$jobs" ;;
    win64) configure build/win64 -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-x86_64.cmake" -DCMAKE_BUILD_TYPE=Release &&
             ninja -C build/win64 -j"$jobs" ;;
    wintest) if scripts/wine-probe.sh; then build win32; else build win32 && build win64; fi ;;
    all) build native && build asan && build wintest ;;
    *) echo "build.sh: unknown configuration $1" >&2; return 2 ;;
  esac
}

mkdir -p build
for c in "$@"; do build "$c"; done

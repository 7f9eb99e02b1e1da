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
# QS_BUILD_ROOT lets several working copies of a session build side by side.
br=${QS_BUILD_ROOT:-build}

configure() {  # dir, extra cmake arguments...
  local dir=$1; shift
  if [ ! -f "$dir/build.ninja" ]; then
    cmake -S "$root" -B "$dir" -G Ninja "$@" >"$dir.configure.log" 2>&1 || { cat "$dir.configure.log"; return 1; }
  fi
}

build() {  # name
  case "$1" in
    native) configure $br/native -DCMAKE_BUILD_TYPE=RelWithDebInfo && ninja -C $br/native -j"$jobs" ;;
    asan) configure $br/asan -DCMAKE_BUILD_TYPE=Debug -DQS_SANITIZE=ON && ninja -C $br/asan -j"$jobs" ;;
    win32) configure $br/win32 -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-i686.cmake" -DCMAKE_BUILD_TYPE=Release &&
             ninja -C $br/win32 -j"$jobs" ;;
    win64) configure $br/win64 -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-x86_64.cmake" -DCMAKE_BUILD_TYPE=Release &&
             ninja -C $br/win64 -j"$jobs" ;;
    wintest) if scripts/wine-probe.sh; then build win32; else build win32 && build win64; fi ;;
    all) build native && build asan && build wintest ;;
    *) echo "build.sh: unknown configuration $1" >&2; return 2 ;;
  esac
}

mkdir -p "$br"
for c in "$@"; do build "$c"; done

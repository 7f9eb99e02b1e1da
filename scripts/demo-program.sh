#!/usr/bin/env bash
# Shows the desktop program: builds the simulator (native) and the program
# (64-bit Windows build, the one Wine runs here), starts the program under Wine
# on a virtual display against simulated devices in a test network of its own,
# and saves a screenshot to BUILD/artifacts/demo/quillscan.png.
set -euo pipefail
cd "$(dirname "$0")/.."
br=${QS_BUILD_ROOT:-build}
jobs=${QS_JOBS:-2}
mkdir -p "$br"
[ -f "$br/native/build.ninja" ] || cmake -S . -B "$br/native" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >"$br/native.configure.log"
ninja -C "$br/native" -j"$jobs" quillscan-devsim
[ -f "$br/win64/build.ninja" ] || cmake -S . -B "$br/win64" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$PWD/cmake/mingw-x86_64.cmake" \
  -DCMAKE_BUILD_TYPE=Release >"$br/win64.configure.log"
ninja -C "$br/win64" -j"$jobs" quillscan quillscan-uidriver
out=$PWD/$br/artifacts/demo/quillscan.png
case "$br" in /*) out=$br/artifacts/demo/quillscan.png ;; esac
QS_BUILD_ROOT=$br testnet/run.sh --timeout 300 -- tests/app/ui_demo.sh \
  "$br/win64/app/Quillscan.exe" "$br/win64/tests/app/quillscan-uidriver.exe" "$out"

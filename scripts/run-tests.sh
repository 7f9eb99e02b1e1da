#!/usr/bin/env bash
# Builds every configuration and runs every test: native, sanitized, and the
# Windows build under Wine. Ends with one line: "N passed, N failed".
set -u
cd "$(dirname "$0")/.."
root=$PWD
start=$(date +%s)
br=${QS_BUILD_ROOT:-build}

results=$(mktemp -d /tmp/qs-results.XXXXXX)
cleanup() {
  local p
  for p in "$results"/wine "$results"/wine-ns*; do
    [ -d "$p" ] && WINEPREFIX=$p wineserver -k >/dev/null 2>&1
  done
  rm -rf "$results"/wine "$results"/wine-ns*
}
trap cleanup EXIT

if ! scripts/build.sh native asan wintest; then
  echo "build failed"
  echo "0 passed, 1 failed"
  exit 1
fi
echo "build: $(( $(date +%s) - start )) s"

if scripts/wine-probe.sh; then windir=$br/win32; else
  windir=$br/win64
  echo "note: this kernel does not run 32-bit programs; the Windows tests run the 64-bit build under wine64"
fi

# One Wine prefix for the run, made once and waited for: a prefix cut short is broken.
export WINEPREFIX=$results/wine WINEDEBUG=-all
if [ "$windir" = $br/win32 ]; then wineboot=/usr/lib/wine/wine; else wineboot=/usr/lib/wine/wine64; fi
$wineboot wineboot -i >/dev/null 2>&1
wineserver -w

run_suite() {  # name, build dir, parallel jobs
  local name=$1 dir=$2 jobs=$3 t0=$(date +%s)
  mkdir -p "$results/$name"
  GTEST_OUTPUT="xml:$results/$name/" QS_XML_DIR="$results/$name" \
    ctest --test-dir "$dir" -j"$jobs" --timeout 600 --output-on-failure \
      --output-junit "$results/$name/ctest.xml" >"$results/$name/ctest.log" 2>&1
  # suites run side by side: each prints its end in one piece
  printf '== %s tests (%s): %s s\n%s\n' "$name" "$dir" "$(( $(date +%s) - t0 ))" \
    "$(tail -n 25 "$results/$name/ctest.log")"
}

# Most tests wait on the network and time-outs, not on the processor: the
# native and sanitized suites run side by side, then the Windows one.
run_suite native $br/native 3 &
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  run_suite asan $br/asan 2 &
wait
# Each test network gets its own copy of the prefix (scripts/wine-run.sh), so
# the Windows tests too run side by side.
QS_WINE_TEMPLATE=$WINEPREFIX run_suite windows "$windir" 4

echo "total time: $(( $(date +%s) - start )) s"
python3 scripts/summarize.py "$results/native" "$results/asan" "$results/windows"

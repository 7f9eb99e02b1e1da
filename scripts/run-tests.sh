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
  [ -n "${WINEPREFIX:-}" ] && WINEPREFIX=$WINEPREFIX wineserver -k >/dev/null 2>&1
  rm -rf "$results/wine"
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
  local name=$1 dir=$2 jobs=$3
  mkdir -p "$results/$name"
  echo "== $name tests ($dir)"
  GTEST_OUTPUT="xml:$results/$name/" QS_XML_DIR="$results/$name" \
    ctest --test-dir "$dir" -j"$jobs" --timeout 600 --output-on-failure \
      --output-junit "$results/$name/ctest.xml" >"$results/$name/ctest.log" 2>&1
  tail -n 25 "$results/$name/ctest.log"
}

run_suite native $br/native 2
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  run_suite asan $br/asan 2
# One prefix has one wineserver, and it lives in the network namespace where it
# started: a test inside a test network and one outside cannot share it, and
# the test network's cleanup ends it. So the Windows tests run one at a time.
run_suite windows "$windir" 1

echo "total time: $(( $(date +%s) - start )) s"
python3 scripts/summarize.py "$results/native" "$results/asan" "$results/windows"

#!/usr/bin/env bash
# Builds the libFuzzer targets with clang (address and undefined-behaviour
# sanitizers, coverage for every library) in their own build root and runs
# each for a bounded time. Findings stay in <build>/fuzz/findings.
#   scripts/fuzz.sh [seconds per target, default 60] [target...]
# With QS_FUZZ_RUNS=N each target runs N executions instead (no time bound).
set -uo pipefail
cd "$(dirname "$0")/.."
root=$PWD
br=${QS_BUILD_ROOT:-build}
dir=$br/fuzz
secs=${1:-60}
shift || true
jobs=${QS_JOBS:-2}

if [ ! -f "$dir/build.ninja" ]; then
  mkdir -p "$dir"
  CC=clang CXX=clang++ cmake -S "$root" -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQS_FUZZ=ON \
    -DQS_SANITIZE=ON -DCMAKE_C_FLAGS=-fsanitize=fuzzer-no-link -DCMAKE_CXX_FLAGS=-fsanitize=fuzzer-no-link \
    >"$dir.configure.log" 2>&1 || { cat "$dir.configure.log"; exit 1; }
fi
targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
  mapfile -t targets < <(ninja -C "$dir" -t targets all | sed -n 's|^fuzz/\(fuzz_[A-Za-z0-9_]*\): CXX_EXECUTABLE_LINKER.*|\1|p' | sort -u)
fi
[ ${#targets[@]} -gt 0 ] || { echo "fuzz.sh: no fuzz targets"; exit 1; }
ninja -C "$dir" -j"$jobs" "${targets[@]}" || exit 1

# Seeds: the test files for the readers, one valid description for fw.info.
seeds=$dir/seeds
mkdir -p "$seeds/readers" "$seeds/fw_info"
cp tests/firmware/data/*.hex tests/firmware/data/*.s19 tests/firmware/data/*.s28 tests/firmware/data/*.s37 "$seeds/readers/"
printf '\x04\x00\x00\x40fw.info{"model":"KV-xR","version":"2.10"}\x00' >"$seeds/fw_info/good"
printf '\x03\xf0\x00\x20\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00fw.info{"model"\x04\x10\x00\x20:"KV-xR","version":"0.199"}\x00' \
  >"$seeds/fw_info/split"

status=0
summary=()
for t in "${targets[@]}"; do
  corpus=$dir/corpus/$t
  findings=$dir/findings/$t
  mkdir -p "$corpus" "$findings"
  extra=()
  case $t in
    fuzz_intel_hex|fuzz_srecord) seed=$seeds/readers; extra=(-max_len=32768) ;;
    fuzz_fw_info) seed=$seeds/fw_info; extra=(-dict=fuzz/fw_info.dict -max_len=8192) ;;
    *) seed=; [ -f "fuzz/$t.dict" ] && extra=(-dict="fuzz/$t.dict") ;;
  esac
  log=$dir/$t.log
  bound=(-max_total_time="$secs") what="$secs s"
  [ -n "${QS_FUZZ_RUNS:-}" ] && bound=(-runs="$QS_FUZZ_RUNS") what="$QS_FUZZ_RUNS runs"
  echo "== $t: $what"
  ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
    "$dir/fuzz/$t" "${bound[@]}" -timeout=10 -rss_limit_mb=1024 -print_final_stats=1 \
    -artifact_prefix="$findings/" "${extra[@]}" "$corpus" ${seed:+"$seed"} >"$log" 2>&1
  rc=$?
  runs=$(sed -n 's/^Done \([0-9]*\) runs in \([0-9]*\) second.*/\1 runs in \2 s/p' "$log" | tail -1)
  rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log" | tail -1)
  [ -n "$rate" ] && runs="$runs, $rate exec/s"
  found=$(find "$findings" -type f | wc -l)
  cov=$(grep -o 'cov: [0-9]*' "$log" | tail -1)
  line="$t: ${runs:-no completed run} ($cov), findings: $found"
  [ $rc -eq 0 ] && [ "$found" -eq 0 ] || { status=1; line="$line (exit $rc; see $log)"; }
  summary+=("$line")
done
echo
printf '%s\n' "${summary[@]}"
exit $status

#!/usr/bin/env bash
# Builds the fuzz targets of the parsers of untrusted input natively (clang,
# libFuzzer, AddressSanitizer and UndefinedBehaviorSanitizer; no Wine) into
# out/build-fuzz and runs each for KALEO_FUZZ_SECONDS seconds (default 60),
# starting from a fresh copy of its seed corpus (tests/fuzz/corpus) under
# out/fuzz-corpus. Prints one table; a crash, leak, timeout or out-of-memory
# fails the run, names the target and keeps the input in out/fuzz-findings.
set -Eeuo pipefail
HERE=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
source "$HERE/wine-env.sh"
trap 'report_failure fuzz' ERR

FUZZ_SECONDS=${KALEO_FUZZ_SECONDS:-60}
BUILD=$OUT/build-fuzz
WORK=$OUT/fuzz-corpus
LOGS=$OUT/fuzz-logs
FINDINGS=$OUT/fuzz-findings
TARGETS=(ScrambledFile DataPipeMessage IoTDeviceList HueBridgeConfig ProxyRequest)

STEP="checking KALEO_FUZZ_SECONDS"
[[ $FUZZ_SECONDS =~ ^[1-9][0-9]*$ ]] || { echo "[fuzz] KALEO_FUZZ_SECONDS must be a positive number of seconds, not '$FUZZ_SECONDS'" >&2; exit 2; }

STEP="configuring the fuzz build"
mkdir -p "$OUT" "$LOGS" "$FINDINGS"
cmake -S "$ROOT/tests/fuzz" -B "$BUILD" -G Ninja -DCMAKE_CXX_COMPILER=clang++ \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo >"$LOGS/configure.log"
STEP="building the fuzz targets (see $LOGS/build.log)"
ninja -C "$BUILD" >"$LOGS/build.log"

export ASAN_OPTIONS=detect_leaks=1:abort_on_error=0:allocator_may_return_null=0
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1

# What ended a run that failed, from libFuzzer's report.
failure_kind() {
  local log=$1
  if grep -q 'ERROR: libFuzzer: timeout' "$log"; then echo timeout
  elif grep -q -e 'ERROR: libFuzzer: out-of-memory' -e 'allocation-size-too-big' -e 'out of memory' "$log"; then echo out-of-memory
  elif grep -q 'ERROR: LeakSanitizer' "$log"; then echo leak
  elif grep -q -e 'ERROR: AddressSanitizer' -e 'runtime error:' -e 'deadly signal' -e 'check failed' "$log"; then echo crash
  else echo "failed"
  fi
}

ROWS=()
FAILURES=()
for target in "${TARGETS[@]}"; do
  STEP="fuzzing $target"
  corpus=$WORK/$target log=$LOGS/$target.log
  rm -rf "$corpus"
  mkdir -p "$corpus" "$FINDINGS/$target"
  cp "$ROOT/tests/fuzz/corpus/$target/"* "$corpus/"
  echo "[fuzz] $target: $FUZZ_SECONDS s"
  status=0
  "$BUILD/Fuzz$target" -max_total_time="$FUZZ_SECONDS" -print_final_stats=1 -detect_leaks=1 \
    -rss_limit_mb=2048 -timeout=10 -artifact_prefix="$FINDINGS/$target/" "$corpus" >"$log" 2>&1 || status=$?
  execs=$(sed -n 's/^stat::number_of_executed_units: *\([0-9]*\)$/\1/p' "$log" | tail -1)
  rate=$(sed -n 's/^stat::average_exec_per_sec: *\([0-9]*\)$/\1/p' "$log" | tail -1)
  last=$(grep -E '^#[0-9]+.*cov: [0-9]+ ft: [0-9]+' "$log" | tail -1 || true)
  cov=$(sed -n 's/.*cov: \([0-9]*\).*/\1/p' <<<"$last")
  ft=$(sed -n 's/.*ft: \([0-9]*\).*/\1/p' <<<"$last")
  if [ "$status" = 0 ]; then
    result=passed
  else
    result=$(failure_kind "$log")
    input=$(sed -n 's/.*Test unit written to \(.*\)$/\1/p' "$log" | tail -1)
    FAILURES+=("$target: $result (status $status), input ${input:-not written}; log $log")
    result="FAILED ($result)"
  fi
  ROWS+=("$(printf '%-16s %8s %12s %10s %7s %8s  %s' "$target" "$FUZZ_SECONDS" "${execs:--}" "${rate:--}" \
    "${cov:--}" "${ft:--}" "$result")")
done

echo "== fuzz"
printf '%-16s %8s %12s %10s %7s %8s  %s\n' target seconds executions 'exec/s' cov ft result
printf '%s\n' "${ROWS[@]}"
if [ "${#FAILURES[@]}" -gt 0 ]; then
  printf '[fuzz] failed: %s\n' "${FAILURES[@]}" >&2
  echo "fuzz: FAILED, ${#FAILURES[@]} of ${#TARGETS[@]} targets"
  exit 1
fi
echo "fuzz: passed, ${#TARGETS[@]} targets x $FUZZ_SECONDS s"

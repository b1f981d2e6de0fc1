#!/usr/bin/env bash
# Runs every benchmark once and writes its headline figures, each beside the
# baseline measured in the same run, into the README's "Measured" section,
# with the machine and the date. The whole output of each benchmark stays in
# out/measure/.
#
#   scripts/measure.sh            (about three minutes)
set -Eeuo pipefail
HERE=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
"$HERE/setup.sh"
source "$HERE/wine-env.sh"
trap 'report_failure measure' ERR

# The app manager ships 32-bit: measure that build where it can run.
app_arch=x86_64
if [ "$KALEO_RUNS_32BIT" = 1 ]; then app_arch=i686; fi
STEP="building the benchmarks"
cmake --build "$OUT/build-$app_arch" --target BenchRegistration BenchEffects IdleApp VxAppManager >/dev/null
cmake --build "$OUT/build-x86_64" --target BenchDeviceScan BenchEvents VxKaleoSDKProxy64 >/dev/null

M=$OUT/measure
mkdir -p "$M"
STEP="starting Wine"
wine_start
trap wine_stop EXIT
run_bench() {
  local name=$1 exe=$2; shift 2
  STEP="running $name"
  echo "== $name"
  # Windows line ends off, so the patterns below see plain lines.
  "$WINRUN" "$exe" "$@" </dev/null 2>&1 | tr -d '\r' >"$M/$name.txt"
}
run_bench registration "$OUT/build-$app_arch/bin/BenchRegistration.exe" --count 30
run_bench effects "$OUT/build-$app_arch/bin/BenchEffects.exe"
run_bench devicescan "$OUT/build-x86_64/bin/BenchDeviceScan.exe"
run_bench events "$OUT/build-x86_64/bin/BenchEvents.exe"

# One table row: what, measured, baseline, ratio, target.
row() { printf '| %s | %s | %s | %s | %s |\n' "$@"; }
pick() { sed -n "$2" "$M/$1.txt" | head -1; }

STEP="reading the figures"
reg_free=$(pick registration 's/^  free channel: row in the table *\([0-9.]*\) .*/\1/p')
reg_raw=$(pick registration 's/^  3,600 bytes written, ack read *\([0-9.]*\) .*/\1/p')
reg_ratio=$(pick registration 's/^ratio (median, free channel \/ raw round trip): \([0-9.]*\) x/\1/p')
eff_set=$(pick effects 's/^  SetGlobalEffect *median *\([0-9.]*\) us.*/\1/p')
eff_copy=$(pick effects 's/^  memcpy of the same bytes *median *\([0-9.]*\) us.*/\1/p')
eff_ratio=$(pick effects 's/^  ratio SetGlobalEffect \/ memcpy: median \([0-9.]*\)x.*/\1/p')
par_ratio=$(pick effects 's/^  ratio parallel \/ sequential: median \([0-9.]*\)x.*/\1/p')
scr_ratio=$(pick effects 's/^  ratio Encrypt \/ memcpy time: \([0-9.]*\)x/\1/p')
read -r _ scan_start _ scan_bare scan_ratio < <(grep -E '^ +1000 ' "$M/devicescan.txt")
scan_per=$(pick devicescan 's/^per-device cost 1000 vs 100: \([0-9.]*\)x.*/\1/p')
ev_raw=$(pick events 's/^   rate, writer flat out *\([0-9]*\) msg\/s$/\1/p')
ev_rate=$(pick events 's/^   rate, writer flat out *\([0-9]*\) msg\/s *\([0-9.]*\)x raw.*/\1 \2/p')
ev_p99=$(sed -n 's/^   latency at 1000 msg\/s .*p99 *\([0-9.]*\) ms.*/\1/p' "$M/events.txt" | paste -sd' ')
ev_cb=$(pick events 's/^   callbacks *\([0-9.]*\) \/s.*/\1/p')
ev_node=$(pick events 's/^   mode 0: *\([0-9.]*\) callbacks\/s .* \([0-9.]*\)x no-op;.*/\1 \2/p')
ev_noop=$(pick events 's/^   no-op koffi callback, one native thread *\([0-9]*\) calls\/s.*/\1/p')
read -r p99_raw p99_lib <<<"$ev_p99"
p99_ratio=$(pick events 's/^   latency at 1000 msg\/s .*p99 *[0-9.]* ms *\([0-9.]*\)x raw.*/\1/p')

cpu=$(sed -n 's/^model name[^:]*: //p' /proc/cpuinfo | head -1)
table=$(
  echo "Measured on $(date -u +%Y-%m-%d), $(nproc) cores ($cpu), $(wine --version 2>/dev/null || echo Wine);"
  echo "app manager figures from the $app_arch build. Regenerate with \`./scripts/measure.sh\`."
  echo
  row "Figure" "Measured" "Baseline (same run)" "Ratio" "Target"
  row "---" "---" "---" "---" "---"
  row "Registration: first pipe open to row in the table, median" "$reg_free ms" "raw pipe round trip $reg_raw ms" "${reg_ratio}x" "-"
  row "Global effect across all rings, median" "$eff_set us" "memcpy of the same bytes $eff_copy us" "${eff_ratio}x" "-"
  row "Model rings: one pool task per ring" "-" "one after another" "${par_ratio}x" "-"
  row "Scramble a general record" "-" "memcpy of the same bytes" "${scr_ratio}x" "-"
  row "Device scan: Start with 1000 HID devices" "$scan_start ms" "bare read of the keys $scan_bare ms" "$scan_ratio" "at most 2x"
  row "Device scan: per-device cost, 1000 vs 100 devices" "-" "-" "${scan_per}x" "about 1x"
  row "Events, mode 0: rate, writer flat out" "${ev_rate% *} msg/s" "raw message pipe $ev_raw msg/s" "${ev_rate#* }x" "at least 0.5x"
  row "Events, mode 0: p99 latency at 1000 msg/s" "$p99_lib ms" "raw message pipe $p99_raw ms" "${p99_ratio}x" "at most 2x"
  row "Events, mode 2: callbacks during a flood" "$ev_cb /s" "-" "-" "at most 25/s"
  row "Events through node.exe and koffi, mode 0" "${ev_node% *} callbacks/s" "no-op koffi callback $ev_noop calls/s" "${ev_node#* }x" "-"
)

STEP="writing the README's Measured section"
awk -v table="$table" '
  /^<!-- measured:begin -->$/ { print; print table; skip = 1; next }
  /^<!-- measured:end -->$/ { skip = 0 }
  !skip' "$ROOT/README.md" >"$M/README.md"
cp "$M/README.md" "$ROOT/README.md"
echo "$table"

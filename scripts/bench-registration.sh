#!/usr/bin/env bash
# Registration figures of this tree's app manager beside those of an earlier
# commit (by default the last one before the request channels were reworked
# to always hold a waiting pipe instance), measured in one run by the same
# BenchRegistration program. Both trees where this machine runs 32-bit
# programs, else the x86_64 tree.
#
#   scripts/bench-registration.sh [ROUNDS]      (default 100 of each kind)
#   KALEO_REGISTRATION_BASELINE=<commit> picks another earlier commit.
set -Eeuo pipefail
HERE=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
ROUNDS=${1:-100}
case $ROUNDS in '' | *[!0-9]*) echo "usage: $0 [ROUNDS]" >&2; exit 2 ;; esac
"$HERE/setup.sh"
source "$HERE/wine-env.sh"
trap 'report_failure bench-registration' ERR

BASELINE=${KALEO_REGISTRATION_BASELINE:-eb6da52b976566f755d43f96d68c811bf9b16d6e}
WORK=$OUT/bench-baseline
STEP="finding the baseline commit $BASELINE"
if ! git -C "$ROOT" cat-file -e "$BASELINE^{commit}" 2>/dev/null; then
  echo "[bench-registration] commit $BASELINE is not in this clone: fetch the full history first" >&2
  exit 1
fi
src=$WORK/src-$(git -C "$ROOT" rev-parse --short=12 "$BASELINE")
if [ ! -f "$src/CMakeLists.txt" ]; then
  STEP="unpacking the baseline commit into $src"
  rm -rf "$src.tmp" && mkdir -p "$src.tmp"
  git -C "$ROOT" archive "$BASELINE" | tar -x -C "$src.tmp"
  # Back then the app manager was built for i686 only; its sources build
  # for x86_64 as they are.
  sed -i 's/^if(KALEO_32BIT)$/if(TRUE)/' "$src.tmp/CMakeLists.txt"
  mv "$src.tmp" "$src"
fi

archs=(x86_64)
if [ "$KALEO_RUNS_32BIT" = 1 ]; then archs=(i686 x86_64); fi
STEP="starting Wine"
wine_start
trap wine_stop EXIT

winpath() { local p=$1; echo "Z:${p//\//\\}"; }
# The median and p99 of one figure line of a report.
figures() { sed -n "s/^  $2 *\([0-9.]*\) *\([0-9.]*\)$/\1 \2/p" "$1"; }

results=()
for arch in "${archs[@]}"; do
  b=$WORK/build-$(basename "$src")-$arch
  STEP="building the baseline module ($arch)"
  cmake -S "$src" -B "$b" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/toolchain-$arch.cmake" \
    -DKALEO_DEPS="$OUT/deps/$arch" -DKALEO_BUILD_TESTS=OFF >"$b.log" 2>&1
  if ! cmake --build "$b" --target VxAppManager >>"$b.log" 2>&1; then
    echo "[bench-registration] the baseline module ($arch) did not build; the whole log is in $b.log" >&2
    exit 1
  fi
  bin=$OUT/build-$arch/bin
  for which in baseline current; do
    module=$bin/VxAppManager.dll
    if [ "$which" = baseline ]; then module=$b/bin/VxAppManager.dll; fi
    report=$WORK/$arch-$which.txt
    STEP="measuring the $which module ($arch)"
    echo "== $arch, $which module (about $((ROUNDS * 13 / 10 + 5)) s)"
    status=0
    "$WINRUN" "$bin/BenchRegistration.exe" --module "$(winpath "$module")" --count "$ROUNDS" </dev/null 2>&1 |
      tr -d '\r' >"$report" || status=$?
    cat "$report"
    if [ "$status" != 0 ]; then
      echo "[bench-registration] BenchRegistration failed on the $which module ($arch) with status $status" >&2
      exit 1
    fi
    for kind in "free channel" "back to back"; do
      read -r median p99 < <(figures "$report" "$kind: row in the table")
      results+=("$(printf '%-7s %-9s %-13s %9s %9s' "$arch" "$which" "$kind" "$median" "$p99")")
    done
  done
done

echo
echo "== from the app's first attempt to open the control pipe to its row (ms, n=$ROUNDS each)"
printf '%-7s %-9s %-13s %9s %9s\n' tree module rounds median p99
printf '%s\n' "${results[@]}"
echo "baseline: $(git -C "$ROOT" log -1 --format='%h %ad' --date=short "$BASELINE"); current: $(git -C "$ROOT" log -1 --format='%h' HEAD)$(git -C "$ROOT" diff --quiet HEAD -- Core Common || echo ' with local changes')"

#!/usr/bin/env bash
# Sets up, builds, and runs every test under Wine. Exits non-zero on any
# failure, crash, or test executable that ran no test.
set -euo pipefail
HERE=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
"$HERE/setup.sh"
source "$HERE/wine-env.sh"

wine_start
trap wine_stop EXIT

rc=0
for arch in i686 x86_64; do
  echo "== tests ($arch)"
  ctest --test-dir "$OUT/build-$arch" --output-on-failure --timeout 300 </dev/null || rc=1
done
exit $rc

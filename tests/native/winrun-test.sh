#!/usr/bin/env bash
# The Wine wrapper chooses the loader from the program's own header, and
# refuses what it cannot run with one clear line. Only --which is used here:
# nothing is started, so the cases hold on every kind of machine.
#   winrun-test.sh WINRUN REAL_PE32PLUS
set -u
WINRUN=$1
REAL=$2
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
# A prefix of our own whose drive Z: is /, as Wine makes it.
mkdir -p "$tmp/prefix/dosdevices"
ln -s / "$tmp/prefix/dosdevices/z:"
export WINEPREFIX=$tmp/prefix
unset KALEO_NO_32BIT KALEO_RUNS_32BIT

# An image header: MZ, e_lfanew = 64, the PE signature, a COFF header and the
# optional header's magic.
pe_file() { # path magic-bytes
  { printf 'MZ'; head -c 58 /dev/zero; printf '\x40\x00\x00\x00'; printf 'PE\0\0'; head -c 20 /dev/zero
    printf "$2"; head -c 200 /dev/zero; } >"$1"
}
pe_file "$tmp/app32.exe" '\x0b\x01'
pe_file "$tmp/app64.exe" '\x0b\x02'
pe_file "$tmp/odd.exe" '\x07\x01'
{ printf 'MZ'; head -c 58 /dev/zero; printf '\x40\x00\x00\x00'; printf 'NE\0\0'; } >"$tmp/dos.exe"
printf 'MZ' >"$tmp/short.exe"
echo 'not a program' >"$tmp/notes.txt"
zpath() { printf 'Z:%s' "${1//\//\\}"; }

passed=0
failed=0
# case: name, environment, program, expected status, expected output (a
# substring of stdout on success, of stderr on failure).
check() {
  local name=$1 env=$2 program=$3 status=$4 expected=$5 out rc
  out=$(env $env "$WINRUN" --which "$program" 2>&1) && rc=0 || rc=$?
  if [ "$rc" = "$status" ] && [[ $out == *"$expected"* ]]; then
    passed=$((passed + 1))
  else
    failed=$((failed + 1))
    printf 'FAILED %s: status %s, output "%s"; expected status %s and "%s"\n' "$name" "$rc" "$out" "$status" "$expected"
  fi
}

check "PE32+ on a 32-bit machine"       KALEO_RUNS_32BIT=1 "$tmp/app64.exe" 0 "wine64 PE32+"
check "PE32+ on a 64-bit-only machine"  KALEO_NO_32BIT=1   "$tmp/app64.exe" 0 "wine64 PE32+"
check "a real PE32+ build"              KALEO_RUNS_32BIT=1 "$REAL"          0 "wine64 PE32+"
check "PE32 where 32-bit runs"          KALEO_RUNS_32BIT=1 "$tmp/app32.exe" 0 "wine PE32"
check "PE32 where it cannot"            KALEO_RUNS_32BIT=0 "$tmp/app32.exe" 126 "is a 32-bit program and this machine cannot run 32-bit programs"
check "the switch wins over the finding" "KALEO_RUNS_32BIT=1 KALEO_NO_32BIT=1" "$tmp/app32.exe" 126 "cannot run 32-bit programs"
check "a Windows path"                  KALEO_RUNS_32BIT=1 "$(zpath "$tmp/app64.exe")" 0 "wine64 PE32+"
check "Wine's own program, 32-bit"      KALEO_RUNS_32BIT=1 cmd 0 "wine builtin"
check "Wine's own program, 64-bit only" KALEO_RUNS_32BIT=0 cmd 0 "wine64 builtin"
check "a text file"                     KALEO_RUNS_32BIT=1 "$tmp/notes.txt" 126 "is not a Windows program (no MZ header)"
check "a DOS header only"               KALEO_RUNS_32BIT=1 "$tmp/short.exe" 126 "is not a Windows program (no PE header)"
check "another signature"               KALEO_RUNS_32BIT=1 "$tmp/dos.exe" 126 "is not a Windows program (no PE header)"
check "an unknown optional header"      KALEO_RUNS_32BIT=1 "$tmp/odd.exe" 126 "is not a Windows program (unknown optional header)"
check "a missing file"                  KALEO_RUNS_32BIT=1 "$tmp/gone.exe" 126 "does not exist"
check "a missing Windows path"          KALEO_RUNS_32BIT=1 'C:\nowhere\app.exe' 126 "does not exist"

printf '%d passed, %d failed\n' "$passed" "$failed"
[ "$failed" = 0 ]

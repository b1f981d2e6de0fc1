# Sourced by the scripts: the private Wine prefix, quiet Wine output, and the
# one way to start a Windows program (scripts/winrun).
ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
OUT=${KALEO_OUT:-$ROOT/out}
export WINEPREFIX=${WINEPREFIX_OVERRIDE:-$OUT/wineprefix}
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
WINRUN=$ROOT/scripts/winrun

# What setup found out about this machine; KALEO_NO_32BIT=1 overrides it.
KALEO_RUNS_32BIT=1
if [ -f "$OUT/machine.env" ]; then source "$OUT/machine.env"; fi
if [ "${KALEO_NO_32BIT:-0}" = 1 ]; then KALEO_RUNS_32BIT=0; fi
export KALEO_RUNS_32BIT

# Starts the wineserver and Wine's own system processes with their output on
# /dev/null, so no later process inherits a pipe of ours.
wine_start() {
  wineserver -p 2>/dev/null || true  # already running is fine
  "$WINRUN" cmd /c exit 0 </dev/null >/dev/null 2>&1 || true
}

wine_stop() {
  wineserver -k 2>/dev/null || true
  wineserver -w 2>/dev/null || true
}

# Turns a failing command into one line naming the step, the command and its
# status: `trap 'report_failure NAME' ERR` with `set -E`. Subshells stay
# silent; their parent names them.
report_failure() {
  local rc=$? name=$1
  if [ "$BASH_SUBSHELL" -gt 0 ]; then exit "$rc"; fi
  printf '[%s] failed while %s: `%s` exited with status %d\n' "$name" "${STEP:-starting}" "$BASH_COMMAND" "$rc" >&2
  exit "$rc"
}

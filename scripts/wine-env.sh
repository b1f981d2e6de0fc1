# Sourced by the scripts: the private Wine prefix and quiet Wine output.
ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
OUT=${KALEO_OUT:-$ROOT/out}
export WINEPREFIX=${WINEPREFIX_OVERRIDE:-$OUT/wineprefix}
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="

# Starts the wineserver and Wine's own system processes with their output on
# /dev/null, so no later process inherits a pipe of ours.
wine_start() {
  wineserver -p 2>/dev/null || true  # already running is fine
  wine cmd /c exit 0 </dev/null >/dev/null 2>&1 || true
}

wine_stop() {
  wineserver -k 2>/dev/null || true
  wineserver -w 2>/dev/null || true
}

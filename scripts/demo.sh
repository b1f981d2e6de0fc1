#!/usr/bin/env bash
# The product's main job, end to end under Wine: installs the SDK into the
# private prefix, runs the service host with the app-manager module, and
# shows what the module did.
set -euo pipefail
HERE=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
"$HERE/setup.sh"
source "$HERE/wine-env.sh"

BIN=$OUT/build-i686/bin
INSTALL_WIN='C:\Program Files (x86)\Vexel\Kaleo SDK'
INSTALL=$WINEPREFIX/drive_c/Program\ Files\ \(x86\)/Vexel/Kaleo\ SDK
RUN=$OUT/demo
mkdir -p "$RUN"

step() { printf '\n\033[1m== %s\033[0m\n' "$*"; }
# Runs a Windows program with its output through a file (Wine's system
# processes must not inherit our pipes).
win() { wine "$@" </dev/null >"$RUN/out.txt" 2>&1; local rc=$?; tr -d '\r' <"$RUN/out.txt"; return $rc; }
ctl() { win "$INSTALL_WIN\\bin\\kaleoctl.exe" "$@"; }

wine_start
HOST_PID=
cleanup() {
  if [ -n "$HOST_PID" ] && kill -0 "$HOST_PID" 2>/dev/null; then ctl host stop >/dev/null 2>&1 || true; fi
  wine_stop
}
trap cleanup EXIT

step "1. Install the SDK into the Wine prefix"
win "$BIN/kaleoctl.exe" uninstall >/dev/null || true
win "$BIN/kaleoctl.exe" install --path "$INSTALL_WIN"
cp "$BIN"/{VxSvcHost.exe,VxAppManager.dll,kaleoctl.exe} "$INSTALL/bin/"
rm -f "$INSTALL"/Logs/*
echo "copied VxSvcHost.exe, VxAppManager.dll, kaleoctl.exe into $INSTALL_WIN\\bin"

step "2. Start the service host with VxAppManager"
wine "$INSTALL_WIN\\bin\\VxSvcHost.exe" "$INSTALL_WIN\\bin\\VxAppManager.dll" </dev/null >"$RUN/host.txt" 2>&1 &
HOST_PID=$!
ctl host wait --timeout 30000
ctl host status

step "3. Service events reach the module (the app manager ignores them)"
ctl host event 1

step "4. What the module logged"
ctl log

step "5. Registry state the module produced"
ctl registry

step "6. Stop the host from another process"
ctl host stop
wait "$HOST_PID" && rc=0 || rc=$?
HOST_PID=
echo "host exited with code $rc"
echo "--- host console output"
tr -d '\r' <"$RUN/host.txt"
echo "--- last log lines"
ctl log --tail 4
exit "$rc"

#!/usr/bin/env bash
# The product's main job, end to end under Wine, as one system: installs the
# SDK into the private prefix, runs one service host with the three service
# modules for the whole run, the Node.js host with the proxy and the
# stand-ins around them, and walks the three roads through the layer. Ends
# with a summary of what was checked; a failed check fails the script.
set -Eeuo pipefail
HERE=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
"$HERE/setup.sh"
source "$HERE/wine-env.sh"
trap 'report_failure demo' ERR

# The service host, its modules and the tools ship as 32-bit programs; where
# this machine cannot run them, their x86_64 builds from the same sources
# take their place.
if [ "$KALEO_RUNS_32BIT" = 1 ]; then
  BIN=$OUT/build-i686/bin
  echo "[demo] the service host, its modules and the tools run as 32-bit programs (build-i686)"
else
  BIN=$OUT/build-x86_64/bin
  echo "[demo] this machine cannot run 32-bit programs: the service host, its modules and the tools run as their 64-bit builds (build-x86_64)"
fi
INSTALL_WIN='C:\Program Files (x86)\Vexel\Kaleo SDK'
INSTALL=$WINEPREFIX/drive_c/Program\ Files\ \(x86\)/Vexel/Kaleo\ SDK
RUN=$OUT/demo
mkdir -p "$RUN"

STARTED=$SECONDS
step() { STEP="step $*"; printf '\n\033[1m== %s\033[0m\n' "$*"; }
road() { printf '\n\033[1;4m%s\033[0m\n' "$*"; }
# check NAME COMMAND...: runs the command quietly and records ok / FAILED.
CHECKS=()
FAILED=0
check() {
  local name=$1; shift
  if "$@" >/dev/null 2>&1; then CHECKS+=("ok      $name"); else CHECKS+=("FAILED  $name"); FAILED=$((FAILED + 1)); fi
}
has() { grep -Eq -- "$2" <<<"$1"; } # has TEXT REGEX
# Runs a Windows program with its output through a file (Wine's system
# processes must not inherit our pipes).
win() { local rc; "$WINRUN" "$@" </dev/null >"$RUN/out.txt" 2>&1 && rc=0 || rc=$?; tr -d '\r' <"$RUN/out.txt"; return $rc; }
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
cp "$BIN"/{VxSvcHost.exe,VxAppManager.dll,VxSmartlightingDeviceManager.dll,VxIoTDeviceManager.dll,kaleoctl.exe} "$INSTALL/bin/"
rm -f "$INSTALL"/Logs/* "$INSTALL"/PluginJournal.txt "$INSTALL"/PluginControl.txt "$INSTALL"/bin/*.mod
echo "copied VxSvcHost.exe, the three service modules and kaleoctl.exe into $INSTALL_WIN\\bin"

# The one service host of the run, with the three service modules.
start_host() { # output file
  "$WINRUN" "$INSTALL_WIN\\bin\\VxSvcHost.exe" "$INSTALL_WIN\\bin\\VxAppManager.dll" \
    "$INSTALL_WIN\\bin\\VxSmartlightingDeviceManager.dll" "$INSTALL_WIN\\bin\\VxIoTDeviceManager.dll" \
    </dev/null >"$RUN/$1" 2>&1 &
  HOST_PID=$!
  ctl host wait --timeout 30000
}
# kaleoctl status, shown; its exit code in STATUS_RC and its screen in STATUS.
show_status() {
  STATUS=$(ctl status) && STATUS_RC=0 || STATUS_RC=$?
  printf '%s\n' "$STATUS"
  echo "(kaleoctl status exited with $STATUS_RC)"
}

step "2. Start the service host with the three service modules"
start_host host.txt
HOST_STATUS=$(ctl host status)
printf '%s\n' "$HOST_STATUS"
check "the host runs VxAppManager, VxSmartlightingDeviceManager and VxIoTDeviceManager" \
  test "$(grep -c '\] running ' <<<"$HOST_STATUS")" = 3

step "3. Service events reach every module (10: the device managers stop and start, the app manager ignores it)"
ctl host event 10

step "4. What the modules logged at start"
ctl log

step "5. Registry state the modules produced"
ctl registry

# Stand-in apps: copies of kaleoctl under their own names, each in its own
# folder; Painter ships an app information file.
APPS_WIN='C:\KaleoDemoApps'
APPS=$WINEPREFIX/drive_c/KaleoDemoApps
rm -rf "$APPS"; mkdir -p "$APPS"/{Racer,Painter,Notes}
cp "$BIN/kaleoctl.exe" "$APPS/Racer/Racer.exe"
cp "$BIN/kaleoctl.exe" "$APPS/Painter/Painter.exe"
cp "$BIN/kaleoctl.exe" "$APPS/Notes/Notes.exe"
cat >"$APPS/Painter/KaleoAppInfo.xml" <<'XML'
<?xml version="1.0" encoding="utf-8"?>
<application>
  <title>Painter</title>
  <description>Paints with light</description>
  <author name="Demo Studio" contact="https://www.vexelzone.example/painter"/>
  <device_supported keyboard="yes" mouse="yes" homelighting="no"/>
  <category game="no"/>
</application>
XML
APP_PIDS=()
start_app() { # name channel-args...
  local name=$1; shift
  "$WINRUN" "$APPS_WIN\\$name\\$name.exe" app register --hold "$@" </dev/null >"$RUN/$name.txt" 2>&1 &
  for _ in $(seq 1 150); do grep -q '^registered\|holding pid' "$RUN/$name.txt" 2>/dev/null && break; sleep 0.2; done
  tr -d '\r' <"$RUN/$name.txt"
}
app_pid() { tr -d '\r' <"$RUN/$1.txt" | sed -n 's/^registered pid \([0-9]*\).*/\1/p' | sed -n 1p; }
kill_app() { local pid; pid=$(app_pid "$1"); echo "killing $1 (pid $pid) without unregistering"; win taskkill /F /PID "$pid" || true; }

road "Road 1: apps register, the lighting follows the active app"

step "6. The device side starts listening on the effect rings"
# Listens until the last apps have exited, at the end of the run.
"$WINRUN" "$INSTALL_WIN\\bin\\kaleoctl.exe" device --models --for 300000 </dev/null >"$RUN/device.txt" 2>&1 &
DEVICE_PID=$!
sleep 1

step "7. Racer registers through the control pipe (keyboard and headset)"
start_app Racer --title "Racer" --desc "A racing game" --author "Demo Games" --contact "https://racer.example" --devices 0x05 --category 2
ctl table

step "8. Painter registers through the request ring (record from its KaleoAppInfo.xml)"
start_app Painter --ring
ctl table

step "9. Notes registers through the control pipe"
start_app Notes --title "Notes" --author "Demo Tools" --devices 0x01 --category 1
TABLE=$(ctl table)
printf '%s\n' "$TABLE"
check "Racer, Painter and Notes are registered (three rows of the shared table)" has "$TABLE" '^app table: 3 app\(s\)'

step "10. Records, priority list and who owns the lighting"
ctl apps

step "11. The active app is killed: the next one in the list takes over"
ACTIVE=$(tr -d '\r' <<<"$(ctl apps)" | sed -n 's/^Owner: \([^ ]*\).*/\1/p' | sed -n 1p)
ACTIVE_PID=$(app_pid "${ACTIVE%.exe}")
kill_app "${ACTIVE%.exe}"
sleep 2
TABLE=$(ctl table)
printf '%s\n' "$TABLE"
ctl apps | grep -E '^Owner|^  *[A-Za-z]+\.exe' || true
owner_moved() { has "$TABLE" '^app table: 2 app\(s\), active pid [1-9]' && ! has "$TABLE" "active pid $ACTIVE_PID\$"; }
check "killing the active app hands the lighting to another registered app" owner_moved

step "12. The host is stopped and started again (the three modules): the app manager revalidates the table"
"$WINRUN" "$INSTALL_WIN\\bin\\kaleoctl.exe" table --watch --interval 60000 </dev/null >"$RUN/watch.txt" 2>&1 &
WATCH_PID=$!
sleep 1
ctl host stop
wait "$HOST_PID" || true
start_host host2.txt
REVALIDATION=$(ctl log | grep -E 'running apps|still running|not running anymore' || true)
printf '%s\n' "$REVALIDATION"
ctl table
check "after the restart the app manager finds the two running apps still running" has "$REVALIDATION" 'still running'

road "Road 2: devices reach the Node.js host through the proxy"

step "13. Publishers put a device of every source into the registry"
cp "$OUT/build-x86_64/bin/VxKaleoSDKProxy64.dll" "$INSTALL/bin/"
echo "copied VxKaleoSDKProxy64.dll (64-bit) into $INSTALL_WIN\\bin"
ctl devices unpublish broadcast --name Ambience >/dev/null 2>&1 || true
# The keyboard of step 15 comes while the proxy runs, also on a second run.
ctl devices unpublish hid --hardware 'VID_2F1A&PID_0084&MI_01' --instance '7&2A0F4D0&0&0001' >/dev/null 2>&1 || true
ctl devices publish hid --hardware 'VID_2F1A&PID_0084&MI_00' --instance '7&2A0F4C5&0&0000' \
  --container '{6F1D2C3B-0001-4000-8000-000000000001}'
ctl devices publish usb --hardware 'VID_2F1A&PID_0090' --instance '5&1234ABCD&0&1' \
  --container '{6F1D2C3B-0002-4000-8000-000000000002}'
ctl devices hue --path 'C:\ProgramData\Vexel\hue-bridge.cfg' --bulbs 3,7
ctl devices publish broadcast --name Ambience --pid 4242 --index 2 --supported 0x21
ctl devices publish iot --product PID_0401 --id 0123456789ABCDEF
"$WINRUN" "$INSTALL_WIN\\bin\\kaleoctl.exe" devices broadcast-service --seconds 300 </dev/null >"$RUN/broadcast.txt" 2>&1 &
BROADCAST_PID=$!
for _ in $(seq 1 100); do grep -q 'holding' "$RUN/broadcast.txt" 2>/dev/null && break; sleep 0.2; done
tr -d '\r' <"$RUN/broadcast.txt"

step "14. The Node.js host loads VxKaleoSDKProxy64 through koffi and calls Init"
winpath() { printf 'Z:%s' "$(realpath "$1" | tr / '\\')"; }
rm -f "$INSTALL/Logs/node.exe.log"
NODE_PATH=$(winpath "$OUT/node/node_modules") "$WINRUN" "$OUT/node/node.exe" "$(winpath "$ROOT/Host/node/demo-devices.js")" \
  "$INSTALL_WIN\\bin\\VxKaleoSDKProxy64.dll" 8 </dev/null >"$RUN/node.txt" 2>&1 &
NODE_PID=$!
# node.exe's output reaches its file only when it exits; the proxy's log
# (UTF-16) tells at once when Init is done and the monitors watch.
proxy_log() { iconv -f UTF-16LE -t UTF-8 "$INSTALL/Logs/node.exe.log" 2>/dev/null | tr -d '\r' || true; }
for _ in $(seq 1 150); do proxy_log | grep -q 'Thread_MonitorHID | START' && break; sleep 0.2; done
proxy_log | grep -E 'Init \| END|Thread_Monitor[A-Za-z]* \| START' || true
check "the proxy's Init ends and its registry monitors watch" has "$(proxy_log)" 'Thread_MonitorHID \| START'

step "15. A second keyboard is published while the proxy runs: its monitor adds it"
ctl devices publish hid --hardware 'VID_2F1A&PID_0084&MI_01' --instance '7&2A0F4D0&0&0001' \
  --container '{6F1D2C3B-0001-4000-8000-000000000001}'
for _ in $(seq 1 20); do proxy_log | grep -q 'AddDevice | SUCCESS.*7&2A0F4D0' && break; sleep 0.3; done
proxy_log | sed -n '/Thread_MonitorHID | START/,$p' | grep -E 'Changes in|AddDevice \| SUCCESS' || true
check "the HID monitor adds the keyboard published while the proxy runs" has "$(proxy_log)" 'AddDevice \| SUCCESS.*7&2A0F4D0'

step "16. The host calls UnInit: every record removed, every monitor ended"
wait "$NODE_PID" && NODE_RC=0 || NODE_RC=$?
tr -d '\r' <"$RUN/node.txt"
ctl log --file node.exe.log | grep -E 'UnInit|Cleanup|\| END' || true
check "UnInit ends the proxy cleanly (node.exe exits 0)" test "$NODE_RC" = 0

step "17. What the proxy derived for each device (key = the host's device handle)"
ctl devices list

# Road 2: the Node.js host attaches a keyboard, a Hue bulb and an accessory
# application; the device side (kaleoctl pipe, another process) writes
# lighting messages into each device's data pipe; the host prints the events.
KEYBOARD=0x2A0F4C5   # the first keyboard interface (both share the container)
HUE=3017             # bulb 7
APP=3022             # accessory application index 2, pid 770
KCTL="\"$INSTALL_WIN\\bin\\kaleoctl.exe\""  # quoted: the device-side lines go through cmd
MSG="$RUN/messages"
mkdir -p "$MSG"
cat >"$MSG/keyboard.txt" <<'JSON'
{"eventId":2,"linkDeviceSeqId":0,"zone":"keys","color":"#FF4000"}
{"eventId":2,"linkDeviceSeqId":0,"zone":"keys","color":"#FF8000"}
{"eventId":2,"linkDeviceSeqId":1,"zone":"logo","color":"#0040FF"}
JSON
cat >"$MSG/hue.txt" <<'JSON'
{"eventId":2,"linkDeviceSeqId":7,"brightness":120}
{"eventId":2,"linkDeviceSeqId":7,"brightness":180}
{"eventId":7,"status":"bulb reachable"}
JSON
cat >"$MSG/app.txt" <<'JSON'
{"eventId":2,"linkDeviceSeqId":1,"scene":"sunset"}
{"eventId":2,"linkDeviceSeqId":2,"scene":"ocean"}
JSON
# The Node.js host's run, its output in node-host.txt.
node_host_quiet() {
  NODE_PATH=$(winpath "$OUT/node/node_modules") "$WINRUN" "$OUT/node/node.exe" "$(winpath "$ROOT/Host/node/kaleo-host.js")" \
    --dll "$INSTALL_WIN\\bin\\VxKaleoSDKProxy64.dll" \
    --hid '132:{6F1D2C3B-0001-4000-8000-000000000001}' --hue 7 --app 770:2 "$@" </dev/null >"$RUN/node-host.txt" 2>&1
}
node_host() {
  node_host_quiet "$@" && rc=0 || rc=$?
  NODE_HOST=$(tr -d '\r' <"$RUN/node-host.txt")
  printf '%s\n' "$NODE_HOST"
  return "$rc"
}
send_all() {
  for device in "keyboard $KEYBOARD" "hue $HUE" "app $APP"; do
    set -- $device
    printf -- '--device-side\0%s pipe send --handle %s --file %s\0' "$KCTL" "$2" "$(winpath "$MSG/$1.txt")"
  done
}

step "18. Mode 0: every event is pushed to the host at once"
mapfile -d '' SENDS < <(send_all)
node_host --mode 0 --seconds 4 "${SENDS[@]}"
check "mode 0: the messages of the keyboard, the Hue bulb and the application reach the host" \
  has "$NODE_HOST" '^summary: mode 0: [1-9][0-9]* callback'

step "19. Mode 1: lighting events wait for PollEvents, the latest per device and sequence id"
node_host --mode 1 --poll-ms 1500 --seconds 4 "${SENDS[@]}"
check "mode 1: PollEvents returns the coalesced events" has "$NODE_HOST" '^summary: mode 1: [1-9][0-9]* poll\(s\) returned [1-9]'

step "20. Mode 2: a flood over 8 sequence ids, delivered in batches every 40 ms"
node_host --mode 2 --seconds 5 --event-lines 6 \
  --device-side "$KCTL pipe flood --handle $KEYBOARD --rate 0 --ids 8 --seconds 3" \
  --device-side "$KCTL pipe flood --handle $HUE --rate 100 --ids 1 --seconds 3"
check "mode 2: the flood arrives in batches" has "$NODE_HOST" '^summary: mode 2: [1-9][0-9]* batch'

road "Road 3: network devices are attached through plug-ins"

# Road 3: the commander (kaleoctl netdev, another process) writes the
# scrambled configuration files, sets "Path" and "Event" and signals each
# module's command event; the modules attach every device through its own
# copy of the sample plug-in, which journals each call.
HUE_CFG='C:\ProgramData\Vexel\hue-bridge.cfg'
mkdir -p "$WINEPREFIX/drive_c/ProgramData/Vexel"
IOT_CFG='C:\ProgramData\Vexel\VxIoT.json'
BRIDGE=(--file "$HUE_CFG" --id 001788fffe123abc --name "Living room" --ip 192.168.1.20
        --group 1=1,2,3 --group 2=4,5)
# Waits until the host's log holds a line COUNT times.
wait_log() {
  for _ in $(seq 1 100); do
    [ "$(ctl log | grep -c -- "$1" || true)" -ge "$2" ] && return 0
    sleep 0.2
  done
  echo "(still waiting for: $1)"
}
netdev_lines() { ctl log | grep -E "$1" | sed -E 's/^([^,]*,){4}//' || true; }
load_both() {
  local hue iot
  hue=$(ctl log | grep -c 'CSmartlightingDeviceManager::UpdateDevices | END' || true)
  iot=$(ctl log | grep -c 'CIoTDeviceManager::UpdateDevices | END' || true)
  ctl netdev send hue Load
  ctl netdev send iot Load
  wait_log 'CSmartlightingDeviceManager::UpdateDevices | END' $((hue + 1))
  wait_log 'CIoTDeviceManager::UpdateDevices | END' $((iot + 1))
}

step "21. The commander configures a Hue bridge and two IoT lights, then sends Load to both modules"
ctl netdev hue "${BRIDGE[@]}" --selected 1
ctl netdev iot clear --file "$IOT_CFG" >/dev/null
ctl netdev iot add --file "$IOT_CFG" --mac aa:bb:cc:dd:ee:01 --pid 1025 --name Desk --ip 10.0.0.11 --serial SN-01
ctl netdev iot add --file "$IOT_CFG" --mac aa:bb:cc:dd:ee:02 --pid 1025 --name Shelf --ip 10.0.0.12 --serial SN-02
ctl netdev iot show --file "$IOT_CFG"
load_both
netdev_lines 'GetDevicesInfo \| (START|END)|AddDevice \| (SUCCESS|END)|UpdateDevices \| END'
NETDEV=$(ctl netdev show)
printf '%s\n' "$NETDEV"
ctl netdev journal
attached_netdev() { has "$NETDEV" '^hue: 1 attached' && has "$NETDEV" '^iot: 2 attached'; }
check "Load attaches the Hue bridge and the two IoT lights, each through its own plug-in copy" attached_netdev

step "22. The selected group and one light's address change: Load re-attaches just those two"
JOURNAL_LINES=$(ctl netdev journal | wc -l)
ctl netdev hue "${BRIDGE[@]}" --selected 2
ctl netdev iot change --file "$IOT_CFG" --mac aa:bb:cc:dd:ee:02 --ip 10.0.0.22
load_both
netdev_lines 'bridge group=|ip mismatch' | tail -4
echo "--- journal lines of this Load"
ctl netdev journal | tail -n +$((JOURNAL_LINES + 1))
NETDEV=$(ctl netdev show)
printf '%s\n' "$NETDEV"
check "the second Load re-attaches just the changed bridge group and light" attached_netdev

road "The whole layer at once"

step "23. Everything runs: two apps, three network devices, and the Node.js host attaching its devices while the Hue bulb is switched off and on"
threads=$(proxy_log | grep -c 'Thread created' || true)
node_host_quiet --mode 0 --seconds 8 --toggle "$HUE" --event-lines 12 \
  --device-side "$KCTL pipe flood --handle $HUE --rate 2 --ids 1 --seconds 8" &
NODE_HOST_PID=$!
# The proxy's log tells when the reader of each of the three devices runs.
for _ in $(seq 1 100); do [ "$(proxy_log | grep -c 'Thread created' || true)" -ge $((threads + 3)) ] && break; sleep 0.2; done

step "24. kaleoctl status: the operator's one screen of the live system"
show_status
live_host() { has "$STATUS" '^Host: running \(pid [0-9]+\), 3 module\(s\)$'; }
live_apps() { has "$STATUS" '^Apps: 2 registered, [^ ]+ \(pid [0-9]+\) owns the lighting'; }
live_devices() { has "$STATUS" '^Devices: .*, [1-9][0-9]* attached'; }
live_netdev() { has "$STATUS" '^Network devices: 3 attached through plug-ins \(hue 1, iot 2\); hue module running, iot module running'; }
check "status, everything live: the host runs its three modules" live_host
check "status, everything live: two apps registered, one owns the lighting" live_apps
check "status, everything live: the Node.js host's devices are attached" live_devices
check "status, everything live: the three network devices are attached" live_netdev
live_healthy() { has "$STATUS" '^Status: healthy$' && [ "$STATUS_RC" = 0 ]; }
check "status, everything live: healthy, exit code 0" live_healthy
wait "$NODE_HOST_PID" && NODE_RC=0 || NODE_RC=$?
NODE_HOST=$(tr -d '\r' <"$RUN/node-host.txt")
printf '%s\n' "$NODE_HOST"
ctl log --file node.exe.log | grep -E 'RemoveDevice \| (START|END)|Cleanup \| END' | tail -8 || true
check "the Node.js host attaches its devices, detaches them and calls UnInit (exit code 0)" test "$NODE_RC" = 0
toggled() { has "$NODE_HOST" 'toggle: SetDeviceState enable=0 ' && has "$NODE_HOST" 'toggle: SetDeviceState enable=1 '; }
check "SetDeviceState switches the Hue bulb off and on while it sends" toggled
ctl devices broadcast-service --stop
wait "$BROADCAST_PID" 2>/dev/null || true
ctl devices unpublish broadcast --name Ambience

road "Winding down"

step "25. Road 1 ends: the last apps exit, the lighting is released (13) and the headset record posted"
for app in Racer Painter Notes; do
  [ "$app" = "${ACTIVE%.exe}" ] && continue
  kill_app "$app"
done
sleep 2
ctl table
ctl log | grep -E 'Number of apps left running' | tail -3 || true

step "26. What the device side decoded"
sleep 1
kill "$DEVICE_PID" 2>/dev/null || true
win "$INSTALL_WIN\\bin\\kaleoctl.exe" device --count 0 --for 1 >/dev/null 2>&1 || true
tr -d '\r' <"$RUN/device.txt" >"$RUN/device-clean.txt"
echo "$(grep -c '^record' "$RUN/device-clean.txt") records decoded; records per ring:"
sed -n 's/^record ring=\([a-z0-9]*\).*/\1/p' "$RUN/device-clean.txt" | sort | uniq -c
echo "the first records (Racer takes the lighting):"
# Cut by awk, which reads all its input: with pipefail, a reader that stops
# early (head) would fail the demo with the writer's SIGPIPE.
awk '/^record/ && ++n <= 12' "$RUN/device-clean.txt"
echo "the last-app records (headset 0x40510 type 10, then release 13 on the rings of the last app, the model rings and the general ring):"
# Chosen by ring and effect: the model rings use device code 0x00040510 too.
awk '/^record ring=headset code=0x00040510 effect=10 /{found=1; print; next}
     found && / effect=13 / && ++n <= 15' "$RUN/device-clean.txt"
check "the device side decoded the effect records of the whole run" grep -q '^record' "$RUN/device-clean.txt"
check "the last app's exit releases the lighting (effect 13 after the headset record)" \
  awk '/^record ring=headset code=0x00040510 effect=10 /{found=1; next} found && / effect=13 /{ok=1} END{exit !ok}' "$RUN/device-clean.txt"

step "27. Road 3 ends: Reset detaches every network device"
clears=$(ctl log | grep -c 'ClearDevices | END' || true)
ctl netdev send hue Reset
ctl netdev send iot Reset
wait_log 'ClearDevices | END' $((clears + 2))
netdev_lines 'ClearDevices \| END|RemoveDevice \| SUCCESS' | tail -5
NETDEV=$(ctl netdev show)
printf '%s\n' "$NETDEV"
detached_netdev() { has "$NETDEV" '^hue: 0 attached' && has "$NETDEV" '^iot: 0 attached'; }
check "Reset detaches every network device" detached_netdev

step "28. Stop the host from another process"
ctl host stop
wait "$HOST_PID" && rc=0 || rc=$?
HOST_PID=
kill "$WATCH_PID" 2>/dev/null || true
echo "host exited with code $rc"
check "the host stops cleanly when asked from another process (exit code 0)" test "$rc" = 0
echo "--- last log lines"
ctl log --tail 6

step "29. kaleoctl status after the stop"
show_status
stopped_status() { has "$STATUS" '^Host: not running$' && has "$STATUS" '^Apps: no shared app table' && [ "$STATUS_RC" = 1 ]; }
check "status after the stop: the host is not running, the table is gone, exit code 1" stopped_status

road "Summary"
echo "ran: one VxSvcHost with VxAppManager, VxSmartlightingDeviceManager and VxIoTDeviceManager (restarted once),"
echo "     the Node.js host with VxKaleoSDKProxy64 (service modules and tools from $(basename "$(dirname "$BIN")"), the proxy from build-x86_64),"
echo "     three stand-in apps, the device side (effect rings, data pipes), the device publisher and the network-device commander"
printf '%s\n' "${CHECKS[@]}"
echo "${#CHECKS[@]} checks, $FAILED failed, in $((SECONDS - STARTED)) s"
if [ "$FAILED" != 0 ]; then
  echo "[demo] $FAILED check(s) failed" >&2
  exit 1
fi

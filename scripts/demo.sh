#!/usr/bin/env bash
# The station against a few simulated sensors, all inside a private network: nothing is
# sent on this machine's real network. Data goes to its own HYGROLOG_HOME so your real
# settings are never touched.
#
#   scripts/demo.sh [hygrolog binary] [hygrolog-sim binary]
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/settings-file.sh

BIN=$(realpath "${1:-build/hygrolog}")
SIM=$(realpath "${2:-build/hygrolog-sim}")
export HYGROLOG_HOME=${HYGROLOG_DEMO_HOME:-${XDG_DATA_HOME:-$HOME/.local/share}/hygrolog-demo}

if [ -z "${HYGRO_SIM_NETNS_PID:-}" ]; then
  # Not yet inside the private network: make it (as root directly, otherwise inside a
  # user namespace, which Debian allows unprivileged users) and come back in.
  wrapper=(bash tests/support/run_in_netns.sh --sensors 6 bash "$0" "$BIN" "$SIM")
  if [ "$(id -u)" = 0 ]; then exec "${wrapper[@]}"; fi
  exec unshare --user --map-root-user -- "${wrapper[@]}"
fi

data=$HYGROLOG_HOME/Veltrix/Hygrolog
if [ ! -s "$data/Settings.ini" ]; then
  mkdir -p "$data"
  # Four sensors already added: folders, colours, map positions, limits.
  to_profile > "$data/Settings.ini" <<'INI'
[View]
mode=map
[DSNet]
time=10
LocalPortForData=50200
LocalPortForCmd=50123
UDPorTCP=UDP
LocalIP=198.18.0.1
[LSensor]
Rcount=4
Tcount=4
[1]
name=Cold room
FolderName=ColdRoom
HMax=95.0
HMin=60.0
TMax=8.0
TMin=0.0
Serial=001001
posx=0.38000
posy=0.22000
colorR=0
colorG=112
colorB=192
show=1
DeviceIPandPort=198.18.0.2:50200
No=1
[2]
name=Lab
FolderName=Lab
HMax=60.0
HMin=30.0
TMax=25.0
TMin=18.0
Serial=001002
posx=0.38000
posy=0.40000
colorR=192
colorG=0
colorB=0
show=1
DeviceIPandPort=198.18.0.3:50200
No=2
[3]
name=Greenhouse
FolderName=Greenhouse
HMax=90.0
HMin=50.0
TMax=35.0
TMin=10.0
Serial=001003
posx=0.38000
posy=0.72000
colorR=0
colorG=150
colorB=50
show=1
DeviceIPandPort=198.18.0.4:50200
No=3
[4]
name=Office
FolderName=Office
HMax=70.0
HMin=20.0
TMax=28.0
TMin=16.0
Serial=001004
posx=0.38000
posy=0.90000
colorR=128
colorG=0
colorB=160
show=1
DeviceIPandPort=198.18.0.5:50200
No=4
INI
  seal_profile "$data/Settings.ini"
fi

# The office reads warmer and damper than its limits (70 %, 28 ℃), so its alarm shows.
# Sensors 1005 and 1006 are not added yet: "Get IP && Connection" finds them.
nsenter -t "$HYGRO_SIM_NETNS_PID" -n "$SIM" --count 6 --quiet \
  --fixed 1001=85.0,4.0 --fixed 1003=72.5,24.0 --fixed 1004=74.0,29.5 > /dev/null &
sim=$!
trap 'kill $sim 2>/dev/null; wait $sim 2>/dev/null || true' EXIT

echo "Hygrolog demo: 4 simulated sensors added, 2 more to find, readings every 10 s."
echo "  history: $data/<sensor folder>/<year>/<month>/<day>/<hour>.cvs"
echo "  alarms:  $data/Office/Alarm.txt (the Office sensor is outside its limits)"
echo "  log:     $data/Log"
if [ -z "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ] && [ "${QT_QPA_PLATFORM:-}" != offscreen ]; then
  xvfb-run -a "$BIN"
else
  "$BIN"
fi

#!/usr/bin/env bash
# The real station against hygrolog-sim, inside the private network that
# tests/support/run_in_netns.sh makes: at start it opens its command socket and its data
# socket (UDP) or listener (TCP) and sends CONNECT to every sensor; at SIGTERM it sends
# "R" to every sensor and closes every endpoint with its log lines.
set -uo pipefail
. "$(dirname "$0")/../../scripts/settings-file.sh"
BIN=$1
SIM=$2
: "${HYGRO_SIM_NETNS_PID:?run through tests/support/run_in_netns.sh}"
export QT_QPA_PLATFORM=offscreen HYGROLOG_AUTO_ANSWER=ok

failures=0
pass() { echo "ok   - $*"; }
fail() { echo "FAIL - $*"; failures=$((failures + 1)); }
check() { local what=$1; shift; if "$@"; then pass "$what"; else fail "$what"; fi; }
# Waits up to 10 s for a fixed line in a file.
wait_for() { for _ in $(seq 1 100); do grep -qF -- "$2" "$1" 2>/dev/null && return 0; sleep 0.1; done; return 1; }

root=$(mktemp -d)
trap 'kill $(jobs -p) 2>/dev/null; wait 2>/dev/null; rm -rf "$root"' EXIT


for mode in UDP "TCP Server"; do
  tag=${mode%% *}
  home=$root/$tag
  data=$home/Veltrix/Hygrolog
  mkdir -p "$data"
  to_profile > "$data/Settings.ini" <<INI
[DSNet]
LocalIP=198.18.0.1
LocalPortForData=50200
LocalPortForCmd=50123
UDPorTCP=$mode
[LSensor]
Rcount=1
Tcount=2
[1]
name=Lab
DeviceIPandPort=198.18.0.2:50200
[2]
name=!XXX1
DeviceIPandPort=198.18.0.3:50200
INI
  seal_profile "$data/Settings.ini"

  echo "# $mode"
  nsenter -t "$HYGRO_SIM_NETNS_PID" -n "$SIM" --sensor 198.18.0.2,1001 --sensor 198.18.0.3,1002 \
    --duration 40 > "$root/sim-$tag.log" 2>&1 &
  sim=$!
  check "$tag: simulator ready" wait_for "$root/sim-$tag.log" "ready 2 sensors"
  HYGROLOG_HOME=$home "$BIN" > "$root/station-$tag.out" 2>&1 &
  station=$!
  conn=${mode%% *}
  for s in 198.18.0.2 198.18.0.3; do
    check "$tag: CONNECT $conn reaches $s" wait_for "$root/sim-$tag.log" "$s <- CONNECT $conn 198.18.0.1:50200"
  done
  if [ "$tag" = TCP ]; then
    for s in 198.18.0.2 198.18.0.3; do
      check "$tag: $s connected" wait_for "$root/sim-$tag.log" "$s tcp connected 198.18.0.1:50200"
    done
    check "$tag: connection endpoint of the in-use sensor" bash -c "for i in \$(seq 50); do cat '$data'/Log/Log*.txt | grep -q 'Tcp Accept Success 198.18.0.2:' && exit 0; sleep 0.1; done; exit 1"
  fi
  kill -TERM $station
  wait $station
  check "$tag: SIGTERM exits 0" test $? -eq 0
  for s in 198.18.0.2 198.18.0.3; do
    check "$tag: R reaches $s" wait_for "$root/sim-$tag.log" "$s <- R"
  done
  log=$(cat "$data"/Log/Log*.txt | cut -c25- | tr -d '\r')
  check "$tag: command socket created" grep -qx "Create Udp Server Listen:50123 Success!" <<<"$log"
  if [ "$tag" = UDP ]; then
    endpoints=(UdpServer50123 UdpServer50200)
    check "$tag: data socket created" grep -qx "Create Udp Server Listen:50200 Success!" <<<"$log"
  else
    endpoints=(UdpServer50123 TcpServer50200 TcpClientLab '!XXX1')
    check "$tag: listener created" grep -qx "Create Tcp Server Listen:50200 Success!" <<<"$log"
  fi
  for e in "${endpoints[@]}"; do
    # Each endpoint's close, in order: start, socket, the three thread slots, end. A sensor
    # that got "R" may have closed its connection first ("Socket closed!").
    seq_lines=$(grep -F "Socket:$e " <<<"$log" | grep -v " Peer closed!$")
    check "$tag: $e freed" grep -qxF "Delete Dev socket mem $e!" <<<"$log"
    check "$tag: $e close sequence" bash -c '
      mapfile -t l <<<"$1"
      [ "${#l[@]}" -eq 6 ] &&
      [ "${l[0]}" = "Socket:$2 Start to close!" ] &&
      [[ "${l[1]}" =~ ^Socket:.+\ Socket\ closed?!$ ]] &&
      [[ "${l[2]}" =~ ^Socket:.+\ (No\ Accept\ Thread!|Accept\ Thread\ close(d!|!\[1\]))$ ]] &&
      [[ "${l[3]}" =~ ^Socket:.+\ (No\ Receive\ Thread!|Receive\ Thread\ close(d!|!\[1\]))$ ]] &&
      [[ "${l[4]}" =~ ^Socket:.+\ (No\ ReceiveUdp\ Thread!|ReceiveUdp\ Thread\ close(d!|!\[1\]))$ ]] &&
      [ "${l[5]}" = "Socket:$2 End to close!" ]' _ "$seq_lines" "$e"
  done
  check "$tag: App end! last" test "$(tail -1 <<<"$log")" = "App end!"
  kill $sim 2>/dev/null; wait $sim 2>/dev/null
done

if [ $failures -ne 0 ]; then echo "$failures check(s) failed"; exit 1; fi
echo "all station network checks passed"

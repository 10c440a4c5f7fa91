#!/usr/bin/env bash
# run_in_netns.sh [--sensors N] COMMAND [ARGS...]
#
# Runs COMMAND in a private network with no way out: a fresh network
# namespace for the station (198.18.0.1/24 on lan0) joined by a veth pair to
# a second namespace for simulated sensors (198.18.0.2 .. 198.18.0.(1+N)/24 on
# lan1, N = 8 by default). Nothing sent in either namespace can reach a real
# interface: the only links are lo and the veth pair, and forwarding is off.
#
# COMMAND sees:
#   HYGRO_SIM_NETNS_PID     a process holding the sensors' namespace; start the
#                           simulator there with
#                           nsenter -t "$HYGRO_SIM_NETNS_PID" -n build/hygrolog-sim ...
#   HYGRO_STATION_IP        198.18.0.1
#   HYGRO_SIM_SENSOR_COUNT  N (addresses 198.18.0.2 onwards)
#
# The station's default route points at lan0 on purpose: a datagram to
# 255.255.255.255 has no route of its own, so without it a broadcast from a
# socket bound to 0.0.0.0 fails with ENETUNREACH. With it the broadcast leaves
# through lan0 and arrives on lan1, where the simulator's socket bound to
# 0.0.0.0:65530 receives it (checked by the simulator's tests, which search
# this way and get an answer from every sensor address).
#
# Exits 77 (the "skipped" code ctest is told about) when not root.
set -euo pipefail

readonly STATION_IP=198.18.0.1
readonly PREFIX=198.18.0

usage() {
    echo "usage: $0 [--sensors N] COMMAND [ARGS...]" >&2
    exit 2
}

inner=0
if [[ "${1:-}" == "--netns-inner" ]]; then
    inner=1
    shift
fi

sensors=8
if [[ "${1:-}" == "--sensors" ]]; then
    [[ $# -ge 2 ]] || usage
    sensors=$2
    shift 2
fi
[[ "$sensors" =~ ^[0-9]+$ ]] && ((sensors >= 1 && sensors <= 253)) || {
    echo "run_in_netns.sh: --sensors must be 1..253" >&2
    exit 2
}
[[ $# -ge 1 ]] || usage

if ((inner == 0)); then
    if [[ $(id -u) -ne 0 ]]; then
        echo "SKIP: needs root to create a private network namespace"
        exit 77
    fi
    exec unshare -n -- bash "$0" --netns-inner --sensors "$sensors" "$@"
fi

# From here on we are inside the station's fresh namespace.
holder=
child=
cleanup() {
    if [[ -n "$child" ]]; then
        kill -TERM "$child" 2>/dev/null || true
        wait "$child" 2>/dev/null || true
    fi
    if [[ -n "$holder" ]]; then
        kill "$holder" 2>/dev/null || true
        wait "$holder" 2>/dev/null || true
    fi
}
trap cleanup EXIT
trap 'exit 143' TERM
trap 'exit 130' INT

own_ns=$(readlink /proc/self/ns/net)

ip link set lo up
ip link add lan0 type veth peer name lan1
ip addr add "$STATION_IP/24" brd + dev lan0
ip link set lan0 up
ip route add default dev lan0

# The holder also dies with this script if it is killed outright.
if command -v setpriv >/dev/null; then
    unshare -n -- setpriv --pdeathsig KILL -- sleep infinity &
else
    unshare -n -- sleep infinity &
fi
holder=$!

# unshare may not have switched namespaces yet; moving lan1 to "its" namespace
# before then would leave lan1 here.
for ((i = 0; i < 200; i++)); do
    ns=$(readlink "/proc/$holder/ns/net" 2>/dev/null || true)
    [[ -n "$ns" && "$ns" != "$own_ns" ]] && break
    sleep 0.01
done
[[ -n "$ns" && "$ns" != "$own_ns" ]] || {
    echo "run_in_netns.sh: the sensors' namespace did not appear" >&2
    exit 1
}

ip link set lan1 netns "$holder"
in_sensors() { nsenter -t "$holder" -n -- "$@"; }
in_sensors ip link set lo up
for ((i = 2; i <= sensors + 1; i++)); do
    in_sensors ip addr add "$PREFIX.$i/24" brd + dev lan1
done
in_sensors ip link set lan1 up
in_sensors ip route add default dev lan1

# /sys/class/net shows the namespace sysfs was mounted in, not ours, so ask ip.
for ((i = 0; i < 500; i++)); do
    ip -o link show lan0 | grep -q 'LOWER_UP' && break
    sleep 0.01
done
ip -o link show lan0 | grep -q 'LOWER_UP' || {
    echo "run_in_netns.sh: lan0 has no carrier" >&2
    exit 1
}

export HYGRO_SIM_NETNS_PID=$holder
export HYGRO_STATION_IP=$STATION_IP
export HYGRO_SIM_SENSOR_COUNT=$sensors

# In the background so that a TERM to this script reaches the command at once
# (a trap waits for a foreground command); stdin is passed on explicitly.
set +e
"$@" <&0 &
child=$!
wait "$child"
rc=$?
child=
set -e
exit "$rc"

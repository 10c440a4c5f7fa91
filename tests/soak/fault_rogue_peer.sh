#!/usr/bin/env bash
# The real station against a rogue peer while it polls healthy sensors:
#  UDP mode: the largest possible datagrams (65507 bytes) from a healthy sensor's own
#            address, at the data and the command port;
#  TCP mode: connections to the listener that never send, from an in-use sensor's
#            address (each replaces that sensor's connection) and from an unknown one
#            (refused), and connections that vanish without FIN or RST, leaving the
#            station a half-open socket.
# The healthy sensors lose no reading, the station neither crashes nor grows (memory,
# open files), and it still closes promptly at SIGTERM.
set -uo pipefail
. "$(dirname "$0")/lib.sh"
BIN=$1
SIM=$2
readonly RUN=${HYGROLOG_ROGUE_SECONDS:-25}
readonly RSS_LIMIT_KIB=4096 WARM_UP=5

root=$(mktemp -d)
trap 'kill $(jobs -p) 2>/dev/null; wait 2>/dev/null; rm -rf "$root"' EXIT

polls() { grep -c "^$(sensor_ip "$2") <- S$" "$1"; }

# run MODE TAG N_INUSE SIM_ARGS... -- ROGUE_ARGS... [-- ROGUE_ARGS...]: the station against
# the sensors and the rogues for RUN seconds; leaves the station's home in $root/TAG.
run() {
  local mode=$1 tag=$2 n=$3; shift 3
  local home=$root/$tag data sim station sampler rogues=() args=() k=0
  data=$home/Veltrix/Hygrolog
  mkdir -p "$data"
  write_settings "$data/Settings.ini" "$mode" 1 "" "$n"
  while [ $# -gt 0 ] && [ "$1" != -- ]; do args+=("$1"); shift; done
  run_sim "$root/sim-$tag.log" "${args[@]}"
  sim=$!
  wait_until 5 has_line "$root/sim-$tag.log" "ready " || fail "$tag: simulator not ready"
  HYGROLOG_HOME=$home "$BIN" > "$root/station-$tag.out" 2>&1 &
  station=$!
  sample_station $station "$root/samples-$tag" &
  sampler=$!
  sleep 2
  while [ $# -gt 0 ]; do
    shift; args=()
    while [ $# -gt 0 ] && [ "$1" != -- ]; do args+=("$1"); shift; done
    k=$((k + 1))
    run_sim "$root/rogue-$tag-$k.log" "${args[@]}" --duration $((RUN - 4))
    rogues+=($!)
  done
  sleep $((RUN - 2))
  check "$tag: station alive after the rogues" alive $station
  stop_station $station 10
  check "$tag: SIGTERM closes with 0 within 10 s (took ${STOP_TOOK}s)" test "$STOP_RC" = 0
  check "$tag: App end! last" test "$(station_log "$data" | tail -1)" = "App end!"
  wait $sampler 2>/dev/null
  kill "${rogues[@]}" $sim 2>/dev/null; wait "${rogues[@]}" $sim 2>/dev/null
}

# report TAG N_HEALTHY: per healthy sensor polls and stored readings, and the station's
# memory and open files after the warm-up.
report() {
  local tag=$1 n=$2 i p r growth fds0 fds1
  for i in $(seq 1 "$n"); do
    p=$(polls "$root/sim-$tag.log" "$i")
    r=$(count_records "$root/$tag/Veltrix/Hygrolog/$(sensor_name "$i")")
    echo "# $tag $(sensor_name "$i"): $p polls, $r stored"
    check "$tag: $(sensor_name "$i") lost no reading" test "${r:0:3}" != BAD -a "$r" -ge $((p - 2)) -a "$p" -ge $((RUN - 5))
  done
  growth=$(rss_growth "$root/samples-$tag" $WARM_UP)
  fds0=$(awk -v w=$WARM_UP '$1 >= w {print $3; exit}' "$root/samples-$tag")
  fds1=$(tail -1 "$root/samples-$tag" | cut -d' ' -f3)
  echo "# $tag VmRSS (KiB) by second: $(awk '{printf "%s ", $2}' "$root/samples-$tag")"
  echo "# $tag open files at ${WARM_UP}s: $fds0, at the end: $fds1; largest: $(sort -k3 -n "$root/samples-$tag" | tail -1 | cut -d' ' -f3)"
  check "$tag: VmRSS growth after ${WARM_UP}s ${growth} KiB < $RSS_LIMIT_KIB KiB" test "$growth" -lt $RSS_LIMIT_KIB
  check "$tag: open files do not grow" test "$fds1" -le $((fds0 + 2))
}

echo "# UDP: 65507-byte datagrams from S01's address at the data and command ports"
run UDP udp 3 --count 3 -- --rogue "$(sensor_ip 1)" --flood-to $STATION_IP:$DATA_PORT \
  --flood-to $STATION_IP:$CMD_PORT --flood-size 65507 --flood-rate 40 --flood-count $((40 * (RUN - 6)))
echo "# rogue: $(grep -h "rogue flood done" "$root"/rogue-udp-*.log)"
check "udp: the flood was sent" grep -q "rogue flood done: [1-9][0-9]* sent, 0 failed" "$root/rogue-udp-1.log"
report udp 3
# Too big for the receive buffer, each is dropped whole: nothing arrives from the rogue's port.
rogue_taken() { station_log "$root/udp/Veltrix/Hygrolog" | grep -a "Rev From:$(sensor_ip 1):" | grep -avcE ":(50200|65530) Data:"; }
check "udp: nothing of the giant datagrams is taken" test "$(rogue_taken)" -eq 0

echo "# TCP: S04 (198.18.0.5) is in use but only the rogue speaks from its address"
run "TCP Server" tcp 4 --count 3 \
  -- --rogue "$(sensor_ip 4)" --tcp-idle $STATION_IP:$DATA_PORT,2 --tcp-vanish $STATION_IP:$DATA_PORT,30 \
  -- --rogue "$(sensor_ip 5)" --tcp-idle $STATION_IP:$DATA_PORT,50
echo "# rogue at S04's address: $(grep -c "rogue tcp idle connected" "$root/rogue-tcp-1.log") idle," \
  "$(grep -c "rogue tcp vanished" "$root/rogue-tcp-1.log") vanished ($(grep -c "(reset)" "$root/rogue-tcp-1.log") by reset)"
echo "# unknown rogue: $(grep -c "rogue tcp idle connected" "$root/rogue-tcp-2.log") connected," \
  "$(grep -c "rogue tcp idle closed by station" "$root/rogue-tcp-2.log") closed by the station"
check "tcp: the vanishing series ran" test "$(grep -c "rogue tcp vanished" "$root/rogue-tcp-1.log")" -ge 20
report tcp 3
log=$(station_log "$root/tcp/Veltrix/Hygrolog")
check "tcp: connections from an unknown address are refused" \
  test "$(grep -c "^Tcp Accept Failed $(sensor_ip 5):" <<<"$log")" -eq 50
check "tcp: every refused connection is closed" \
  test "$(grep -c "rogue tcp idle closed by station" "$root/rogue-tcp-2.log")" -eq 50

finish "rogue-peer"

#!/usr/bin/env bash
# A bounded long run of the real station against hygrolog-sim: 20 in-use sensors polled
# every second, some of them losing power now and then, and a rogue flooding the data and
# command ports with garbage. It prints, and checks:
#  - per sensor: polls, answers and readings stored in the hour files; a healthy sensor
#    loses none (but one at the close), a failing one is back after each outage;
#  - VmRSS every 5 s and its growth after the warm-up; the open files;
#  - the log folder: bounded in files and bytes however long the station runs;
#  - the datagram queues: bounded (the drop line of the command socket's queue);
#  - a clean close at SIGTERM.
# HYGROLOG_SOAK_SECONDS (600) is the whole run; HYGROLOG_SOAK_TCP_SECONDS (45) of it go to a
# shorter run in TCP mode at the end (0: none).
set -uo pipefail
. "$(dirname "$0")/lib.sh"
BIN=$1
SIM=$2
readonly TOTAL=${HYGROLOG_SOAK_SECONDS:-600}
readonly TCP_SECONDS=${HYGROLOG_SOAK_TCP_SECONDS:-45}
readonly UDP_SECONDS=$((TOTAL - TCP_SECONDS))
readonly N=20 ROGUE_IP=198.18.0.22
# Sensors with power cuts: serial 1000+i is sensor i.
readonly UDP_FAULTS="1005:outage=60/20 1010:outage=90/30 1015:outage=45/15"
readonly TCP_FAULTS="1003:reconnect-every=10 1008:outage=15/10"
# A sensor that drops its connection right after an answer and connects again at once may
# lose that answer: the new connection retires the old endpoint before the answer is taken
# from it (the accept path in src/net). Until that is mended, one loss per reconnect is let
# pass (and printed); every other loss fails.
readonly LOSS_PER_RECONNECT=1
readonly RSS_LIMIT_KIB=4096 CLOSE_LIMIT=5 LOG_FILES_LIMIT=10 LOG_BYTES_LIMIT=$((32 * 1024 * 1024))

((UDP_SECONDS >= 60)) || { echo "FAIL - HYGROLOG_SOAK_SECONDS leaves less than 60 s for UDP"; exit 1; }
root=$(mktemp -d)
trap 'kill $(jobs -p) 2>/dev/null; wait 2>/dev/null; rm -rf "$root"' EXIT

faulty() { # SENSOR FAULTS: whether the sensor has a fault in the list
  [[ " $2 " == *" $((1000 + $1)):"* ]]
}

# Per sensor address from the simulator's log: polls answers outages recovered unrecovered
# and the most polls an outage's end took to bring an answer again.
sim_stats() {
  awk '$2 == "<-" && $3 == "S" && NF == 3 { polls[$1]++; if (wait[$1]) gap[$1]++ }
       $2 == "->" && $3 ~ /^[+-]/ { answers[$1]++
                                    if (wait[$1]) { wait[$1] = 0; back[$1]++; if (gap[$1] > most[$1]) most[$1] = gap[$1] } }
       $2 == "outage" && $3 == "begins" { outages[$1]++; if (wait[$1]) { lost[$1]++; wait[$1] = 0 } }
       $2 == "outage" && $3 == "ends" { wait[$1] = 1; gap[$1] = 0 }
       END { for (a in polls) print a, polls[a] + 0, answers[a] + 0, outages[a] + 0, back[a] + 0, lost[a] + 0, most[a] + 0 }' "$1"
}

# soak MODE TAG SECONDS WARM_UP FAULTS [ROGUE]: one run; ROGUE "yes" adds the flood.
soak() {
  local mode=$1 tag=$2 seconds=$3 warm=$4 faults=$5 rogue=${6:-}
  local home=$root/$tag data sim station sampler rogue_pid= f args=() first_log= log_rate=0
  data=$home/Veltrix/Hygrolog
  mkdir -p "$data"
  write_settings "$data/Settings.ini" "$mode" 1 "" $N
  for f in $faults; do args+=(--fault "$f"); done
  echo "# ---- $tag: $N sensors, poll every 1 s, ${seconds}s; faults: $faults"
  run_sim "$root/sim-$tag.log" --count $N "${args[@]}"
  sim=$!
  wait_until 5 has_line "$root/sim-$tag.log" "ready $N sensors" || { fail "$tag: simulator not ready"; return; }
  HYGROLOG_HOME=$home "$BIN" > "$root/station-$tag.out" 2>&1 &
  station=$!
  local started=$SECONDS
  sample_station $station "$root/samples-$tag" 5 &
  sampler=$!
  if [ "$rogue" = yes ]; then
    # 200 garbage datagrams a second from 301 source ports (each port sends to both),
    # alternately at the data and the command port, for all but the last 10 s.
    run_sim "$root/rogue-$tag.log" --rogue $ROGUE_IP --flood-to $STATION_IP:$DATA_PORT \
      --flood-to $STATION_IP:$CMD_PORT --flood-size 64 --flood-ports 301 --flood-rate 200 \
      --flood-count $((200 * (seconds - 10)))
    rogue_pid=$!
    # The command socket's queue is read by the search dialog only: 300 senders overfill it.
    # The line is early in a log that is later rotated away, so it is looked for now.
    sleep 30
    check "$tag: command queue bounded (its drop line is logged)" \
      grep -aqx "Udp UdpServer$CMD_PORT queue full, oldest data dropped!" <(station_log "$data")
    first_log=$(ls "$data/Log" | sort | head -1)
    log_rate=$(($(station_log "$data" | wc -l) / (SECONDS - started)))
  fi
  while ((SECONDS - started < seconds)); do
    alive $station || break
    sleep 5
  done
  check "$tag: station alive after ${seconds}s" alive $station
  stop_station $station 30
  echo "# $tag: SIGTERM -> exit $STOP_RC after ${STOP_TOOK}s"
  check "$tag: SIGTERM closes with 0 within ${CLOSE_LIMIT}s" \
    awk -v rc="$STOP_RC" -v t="$STOP_TOOK" -v l=$CLOSE_LIMIT 'BEGIN { exit !(rc == "0" && t <= l) }'
  check "$tag: App end! last in the log" test "$(station_log "$data" | tail -1)" = "App end!"
  wait $sampler 2>/dev/null
  [ -n "$rogue_pid" ] && { kill $rogue_pid 2>/dev/null; wait $rogue_pid 2>/dev/null; }
  kill $sim 2>/dev/null; wait $sim 2>/dev/null

  # ---- readings ----
  sim_stats "$root/sim-$tag.log" > "$root/stats-$tag"
  printf '# %-4s %-12s %6s %7s %6s %5s  %s\n' "$tag" sensor polls answers stored lost outages
  local i ip p a o b u m r healthy_lost=0 worst_recovery=0
  for i in $(seq 1 $N); do
    ip=$(sensor_ip "$i")
    read -r _ p a o b u m < <(grep "^$ip " "$root/stats-$tag" || echo "$ip 0 0 0 0 0 0")
    r=$(count_records "$data/$(sensor_name "$i")")
    if [ "${r:0:3}" = BAD ]; then fail "$tag: $(sensor_name "$i") history: $r"; continue; fi
    if faulty "$i" "$faults"; then
      printf '# %-4s %-12s %6s %7s %6s %5s  %s (back after %s, unrecovered %s, most polls to recover %s)\n' \
        "$tag" "$(sensor_name "$i") $ip" "$p" "$a" "$r" $((a - r)) "$o" "$b" "$u" "$m"
      local reconnects allowed=1
      reconnects=$(grep -c "^$ip tcp closed (reconnect-every)" "$root/sim-$tag.log")
      if ((reconnects > 0)); then
        allowed=$((1 + LOSS_PER_RECONNECT * reconnects))
        echo "# $tag $(sensor_name "$i"): $reconnects reconnects right after an answer, $((a - r)) answers not stored"
      fi
      check "$tag: $(sensor_name "$i") (faulty): every answer stored (but $allowed)" test $((a - r)) -le $allowed -a "$r" -le "$a"
      ((o == 0)) || check "$tag: $(sensor_name "$i") back after every outage" test "$u" -eq 0
      ((m > worst_recovery)) && worst_recovery=$m
    else
      printf '# %-4s %-12s %6s %7s %6s %5s\n' "$tag" "$(sensor_name "$i") $ip" "$p" "$a" "$r" $((p - r))
      healthy_lost=$((healthy_lost + p - r))
      check "$tag: $(sensor_name "$i") polled every second ($p polls in ${seconds}s)" test "$p" -ge $((seconds - 5))
      check "$tag: $(sensor_name "$i") lost no reading" test "$a" -eq "$p" -a "$r" -ge $((p - 1)) -a "$r" -le "$p"
    fi
  done
  echo "# $tag: healthy sensors' polls not stored, in all: $healthy_lost; most polls a sensor took to come back: $worst_recovery"

  # ---- memory and files ----
  local first at_warm peak last growth fds0 fds1
  first=$(awk 'NR == 1 {print $2}' "$root/samples-$tag")
  at_warm=$(awk -v w="$warm" '$1 >= w {print $2; exit}' "$root/samples-$tag")
  peak=$(awk -v w="$warm" '$1 >= w && $2 > p {p = $2} END {print p}' "$root/samples-$tag")
  last=$(awk '$2 != "" {l = $2} END {print l}' "$root/samples-$tag")
  growth=$(rss_growth "$root/samples-$tag" "$warm")
  fds0=$(awk -v w="$warm" '$1 >= w {print $3; exit}' "$root/samples-$tag")
  fds1=$(awk '$3 != "" {l = $3} END {print l}' "$root/samples-$tag")
  echo "# $tag VmRSS KiB: start $first, at ${warm}s $at_warm, peak after $peak, last $last;" \
    "growth after warm-up $growth KiB ($(awk -v g="$growth" -v s=$((seconds - warm)) 'BEGIN {printf "%.1f", g / s * 60}') KiB/min)"
  echo "# $tag VmRSS every 5 s: $(awk '{printf "%s ", $2}' "$root/samples-$tag")"
  echo "# $tag open files: at ${warm}s $fds0, last $fds1, most $(sort -k3 -n "$root/samples-$tag" | tail -1 | cut -d' ' -f3)"
  check "$tag: VmRSS growth after the warm-up < $((RSS_LIMIT_KIB / 1024)) MiB" test "$growth" -lt $RSS_LIMIT_KIB
  check "$tag: open files do not grow" test "$fds1" -le $((fds0 + 2))

  # ---- log ----
  local files bytes oldest lines
  files=$(ls "$data/Log" | wc -l)
  bytes=$(du -sb "$data/Log" | cut -f1)
  lines=$(cat "$data"/Log/Log*.txt | wc -l)
  oldest=$(ls "$data/Log" | sort | head -1)
  echo "# $tag log folder: $files files, $bytes bytes, $lines lines kept; oldest kept $oldest"
  [ -n "$rogue_pid" ] && echo "# $tag rogue: $(grep -h "rogue flood done" "$root/rogue-$tag.log")"
  check "$tag: log folder at most $LOG_FILES_LIMIT files" test "$files" -le $LOG_FILES_LIMIT
  check "$tag: log folder at most $((LOG_BYTES_LIMIT / 1024 / 1024)) MiB" test "$bytes" -le $LOG_BYTES_LIMIT
  # At the rate of the first 30 s, a run that writes well over ten files must have lost
  # its first one.
  if [ -n "$first_log" ]; then
    echo "# $tag log: about $log_rate lines a second, about $((log_rate * seconds / 10001 + 1)) files begun;" \
      "the first ($first_log) $([ -e "$data/Log/$first_log" ] && echo kept || echo deleted)"
    if ((log_rate * seconds > (LOG_FILES_LIMIT + 2) * 10001)); then
      check "$tag: the oldest log files were deleted" test ! -e "$data/Log/$first_log"
    fi
  fi
}

soak UDP udp $UDP_SECONDS 60 "$UDP_FAULTS" yes
((TCP_SECONDS > 0)) && soak "TCP Server" tcp "$TCP_SECONDS" 15 "$TCP_FAULTS"

finish "soak"

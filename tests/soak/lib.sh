# Shared by the station's long-run and fault tests (sourced). They run the real station
# against hygrolog-sim inside the private network of tests/support/run_in_netns.sh:
# the station at 198.18.0.1, the sensors from 198.18.0.2 on, each sensor N named and
# filed as "S<NN>".
. "$(dirname "${BASH_SOURCE[0]}")/../../scripts/settings-file.sh"
: "${HYGRO_SIM_NETNS_PID:?run through tests/support/run_in_netns.sh}"
export QT_QPA_PLATFORM=offscreen HYGROLOG_AUTO_ANSWER=ok

readonly DATA_PORT=50200 CMD_PORT=50123 STATION_IP=198.18.0.1

failures=0
pass() { echo "ok   - $*"; }
fail() { echo "FAIL - $*"; failures=$((failures + 1)); }
check() { local what=$1; shift; if "$@"; then pass "$what"; else fail "$what"; fi; }
finish() {
  if [ "$failures" -ne 0 ]; then echo "$failures check(s) failed"; exit 1; fi
  echo "all $1 checks passed"
}

sensor_ip() { echo "198.18.0.$((1 + $1))"; }
sensor_name() { printf 'S%02d' "$1"; }

# wait_until SECONDS COMMAND...: polls every 0.2 s.
wait_until() {
  local tries=$(($1 * 5)) k; shift
  for ((k = 0; k < tries; k++)); do "$@" && return 0; sleep 0.2; done
  return 1
}
has_line() { grep -qF -- "$2" "$1" 2>/dev/null; }

# write_settings FILE MODE INTERVAL DATAPATH N: a sealed Settings.ini with N in-use sensors.
write_settings() {
  local file=$1 mode=$2 interval=$3 datapath=$4 n=$5 i
  {
    printf '[DSNet]\nLocalIP=%s\nLocalPortForData=%s\nLocalPortForCmd=%s\nUDPorTCP=%s\ntime=%s\n' \
      "$STATION_IP" "$DATA_PORT" "$CMD_PORT" "$mode" "$interval"
    [ -n "$datapath" ] && printf '[Data]\nPath=%s\n' "$datapath"
    printf '[View]\nmode=table\n[LSensor]\nRcount=%s\nTcount=%s\n' "$n" "$n"
    for ((i = 1; i <= n; i++)); do
      printf '[%d]\nname=%s\nFolderName=%s\nDeviceIPandPort=%s:%s\nSerial=%06d\nshow=1\nNo=%d\n' \
        "$i" "$(sensor_name "$i")" "$(sensor_name "$i")" "$(sensor_ip "$i")" "$DATA_PORT" $((1000 + i)) "$i"
    done
  } | to_profile > "$file"
  seal_profile "$file"
}

# The station's log without time stamps and CR. Received garbage is logged as it came, line
# ends and all, so lines are not cut at a fixed column.
station_log() {
  cat "$1"/Log/Log*.txt 2>/dev/null | tr -d '\r' |
    LC_ALL=C sed -E 's/^[0-9]{4}-[0-9]{2}-[0-9]{2}_[0-9]{2}-[0-9]{2}-[0-9]{2}_[0-9]{3} //'
}

# hour_files FOLDER: every hour file below a sensor folder.
hour_files() { find "$1" -regextype posix-extended -regex '.*/[0-9]+/[0-9]+/[0-9]+/[0-9]+\.cvs' 2>/dev/null; }

# count_records FOLDER: records in all its hour files. Prints "N" or "BAD <why>" when an hour
# file is not a 36-byte head plus whole 22-byte records, a record is malformed, or a head's
# counts disagree with its records. The station may store a reading while we read (record
# first, then head), so a mismatch counts only when it is still there a moment later.
count_records() {
  local result
  for _ in 1 2 3; do
    result=$(count_records_once "$1")
    [ "${result:0:3}" != BAD ] && break
    sleep 0.15
  done
  echo "$result"
}
count_records_once() {
  local total=0 f size n good head
  while read -r f; do
    [ -n "$f" ] || continue
    size=$(stat -c %s "$f")
    if ((size < 36 || (size - 36) % 22 != 0)); then echo "BAD $f: $size bytes"; return; fi
    n=$(((size - 36) / 22))
    good=$(tail -c +37 "$f" | LC_ALL=C grep -c -E $'^[0-9]{2}:[0-9]{2} [0-9]{2} [+-][0-9]{2}\\.[0-9],[+-][0-9]{2}\\.[0-9]\r$')
    if ((good != n)); then echo "BAD $f: $good of $n records well-formed"; return; fi
    head=$(head -c 15 "$f")
    if [ "$head" != "$(printf 'Count=%04d,%04d' "$n" "$n")" ]; then echo "BAD $f: head '$head' for $n records"; return; fi
    total=$((total + n))
  done < <(hour_files "$1")
  echo "$total"
}

# A child that has ended is a zombie until waited for: not alive.
alive() { local st; st=$(awk '{print $3}' "/proc/$1/stat" 2>/dev/null); [ -n "$st" ] && [ "$st" != Z ]; }
rss_kib() { awk '/^VmRSS:/ {print $2}' "/proc/$1/status" 2>/dev/null; }
fd_count() { ls "/proc/$1/fd" 2>/dev/null | wc -l; }

# run_sim LOG ARGS...: hygrolog-sim in the sensors' namespace, in the background ($!).
run_sim() { local log=$1; shift; nsenter -t "$HYGRO_SIM_NETNS_PID" -n "$SIM" "$@" > "$log" 2>&1 & }

# stop_station PID SECONDS: SIGTERM, then waits (in this shell: the station must be its
# child). Sets STOP_RC to the exit code, or "timeout" (the station is then killed) when it
# has not ended within SECONDS, and STOP_TOOK to the seconds taken.
stop_station() {
  local pid=$1 limit=$2 start k
  start=$(date +%s.%N)
  kill -TERM "$pid" 2>/dev/null
  for ((k = 0; k < limit * 10; k++)); do
    alive "$pid" || break
    sleep 0.1
  done
  STOP_TOOK=$(awk -v a="$start" -v b="$(date +%s.%N)" 'BEGIN {printf "%.1f", b - a}')
  if alive "$pid"; then
    kill -KILL "$pid"; wait "$pid" 2>/dev/null; STOP_RC=timeout
  else
    wait "$pid"; STOP_RC=$?
  fi
}

# sample_station PID FILE [EVERY]: every EVERY seconds (1), "<seconds> <VmRSS KiB> <open fds>"
# until PID ends.
sample_station() {
  local pid=$1 file=$2 every=${3:-1} t0=$SECONDS
  while alive "$pid"; do
    echo "$((SECONDS - t0)) $(rss_kib "$pid") $(fd_count "$pid")" >> "$file"
    sleep "$every"
  done
}

# rss_growth FILE FROM: the largest VmRSS from second FROM on minus the VmRSS at FROM (KiB).
rss_growth() {
  awk -v from="$2" '$1 >= from && $2 != "" { if (base == "") base = $2; if ($2 > peak) peak = $2 }
                    END { print peak - base }' "$1"
}

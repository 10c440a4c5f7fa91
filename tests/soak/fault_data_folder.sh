#!/usr/bin/env bash
# The real station's data folder fails under it and comes back: a sensor's history folder
# full, then read-only, then the whole data folder (log included) read-only, then full.
# Each folder is a small tmpfs in a private mount namespace (as root, chmod would not stop
# a write). While a folder fails, the readings that cannot be stored are logged as lost
# (where the log itself can still be written), the station keeps polling every sensor and
# keeps storing where it can, and every hour file stays a head plus whole records that the
# head counts; once the folder is writable again, storing resumes.
set -uo pipefail
if [ "${1:-}" != --mount-ns ]; then
  exec unshare -m --propagation private -- bash "$0" --mount-ns "$@"
fi
shift
. "$(dirname "$0")/lib.sh"
BIN=$1
SIM=$2
readonly N=3 PHASE=5

root=$(mktemp -d)
data=$root/data
home=$root/home
mkdir -p "$data" "$home/Veltrix/Hygrolog"
cleanup() {
  kill $(jobs -p) 2>/dev/null; wait 2>/dev/null
  umount -l "$data/S01" 2>/dev/null; umount -l "$data" 2>/dev/null
  rm -rf "$root"
}
trap cleanup EXIT

# The whole data folder (log and every sensor) and, inside it, the history folder of S01.
mount -t tmpfs -o size=16m,mode=0755 hygro-data "$data" || { echo "FAIL - cannot mount a tmpfs"; exit 1; }
mkdir -p "$data/S01"
mount -t tmpfs -o size=64k,mode=0755 hygro-s01 "$data/S01" || { echo "FAIL - cannot mount a tmpfs"; exit 1; }
write_settings "$home/Veltrix/Hygrolog/Settings.ini" UDP 1 "$data" $N

# tmpfs allocates whole pages, so a full one still takes writes into the last page of a
# file. S01's hour file is made to end 12 bytes before a page boundary: its next record
# needs a new page, and on a full folder it fails part-way (12 bytes written, then ENOSPC).
hour_file=$data/S01/$(date +%Y/%-m/%-d/%-H).cvs
mkdir -p "$(dirname "$hour_file")"
{
  printf 'Count=0184,0184\r\nAverg=+50.0,+20.0\r\n'
  for ((k = 0; k < 184; k++)); do printf '%02d:%02d 01 +50.0,+20.0\r\n' $((k / 60 % 60)) $((k % 60)); done
} > "$hour_file"
check "prepared hour file ends 12 bytes before a page boundary" test "$(stat -c %s "$hour_file")" = 4084

fill() { dd if=/dev/zero of="$1/filler" bs=4k 2>/dev/null; sync; }
unfill() { rm -f "$1/filler"; }
# A remount fails with EBUSY while the station has a file open for writing: try again.
remount() { for _ in $(seq 50); do mount -o "remount,$1" "$2" 2>/dev/null && return 0; sleep 0.1; done; return 1; }

records() { count_records "$data/$(sensor_name "$1")"; }
polls() { grep -c "^$(sensor_ip "$1") <- S$" "$root/sim.log"; }
lost_lines() { station_log "$data" | grep -c "^Save Failed! Folder:$data/$(sensor_name "$1")/"; }
snapshot() { for i in $(seq 1 $N); do echo "$(records "$i") $(polls "$i")"; done; }

run_sim "$root/sim.log" --count $N
sim=$!
wait_until 5 has_line "$root/sim.log" "ready $N sensors" || { echo "FAIL - simulator not ready"; exit 1; }

# ---- S01's folder full from the start ----
fill "$data/S01"
HYGROLOG_HOME=$home "$BIN" > "$root/station.out" 2>&1 &
station=$!
wait_until 10 has_line "$root/sim.log" "$(sensor_ip 1) -> " || fail "S01 never polled"
sleep $PHASE

# phase NAME: what happened to S01 and S02 over the phase just ended, from snapshots a and b.
report() {
  local name=$1; shift
  printf '# %-28s' "$name"
  for i in $(seq 1 $N); do
    read -r r0 p0 <<<"$(sed -n "${i}p" <<<"$a")"
    read -r r1 p1 <<<"$(sed -n "${i}p" <<<"$b")"
    if [[ "$r0" =~ ^[0-9]+$ && "$r1" =~ ^[0-9]+$ ]]; then
      printf '  %s: +%s polls +%s stored' "$(sensor_name "$i")" $((p1 - p0)) $((r1 - r0))
    else
      printf '  %s: +%s polls, %s' "$(sensor_name "$i")" $((p1 - p0)) "$r1"
    fi
  done
  echo
}

a=$(printf '184 0\n0 0\n0 0\n')
b=$(snapshot)
report "S01 full" 
check "S01 full: station alive" alive $station
check "S01 full: hour file unchanged, well-formed" test "$(records 1)" = 184
check "S01 full: S01 still polled" test "$(polls 1)" -ge $((PHASE - 1))
check "S01 full: lost readings logged" test "$(lost_lines 1)" -ge $((PHASE - 2))
check "S01 full: S02 and S03 stored" test "$(records 2)" -ge $((PHASE - 1)) -a "$(records 3)" -ge $((PHASE - 1))

phase() { # NAME ACTION...: does ACTION, waits a phase, reports.
  local name=$1; shift
  "$@"; a=$(snapshot); sleep $PHASE; b=$(snapshot)
  report "$name"
}
grew() { # SENSOR: stored at least PHASE-2 readings in the phase just ended
  local r0 r1
  r0=$(sed -n "$1p" <<<"$a" | cut -d' ' -f1); r1=$(sed -n "$1p" <<<"$b" | cut -d' ' -f1)
  [[ "$r0" =~ ^[0-9]+$ && "$r1" =~ ^[0-9]+$ ]] && ((r1 - r0 >= PHASE - 2))
}
stuck() { # SENSOR: stored nothing and stays well-formed
  local r0 r1
  r0=$(sed -n "$1p" <<<"$a" | cut -d' ' -f1); r1=$(sed -n "$1p" <<<"$b" | cut -d' ' -f1)
  [[ "$r1" =~ ^[0-9]+$ ]] && [ "$r0" = "$r1" ]
}
others_grew() { grew 2 && grew 3; }
polled() { # SENSOR: polled at least PHASE-1 times in the phase
  local p0 p1
  p0=$(sed -n "$1p" <<<"$a" | cut -d' ' -f2); p1=$(sed -n "$1p" <<<"$b" | cut -d' ' -f2)
  ((p1 - p0 >= PHASE - 1))
}

phase "S01 free again" unfill "$data/S01"
check "S01 freed: storing resumes" grew 1
check "S01 freed: hour file well-formed" test "$(records 1 | cut -c1-3)" != BAD

lost_before=$(lost_lines 1)
phase "S01 read-only" remount ro "$data/S01"
check "S01 read-only: nothing stored, files intact" stuck 1
check "S01 read-only: still polled" polled 1
check "S01 read-only: lost readings logged" test $(($(lost_lines 1) - lost_before)) -ge $((PHASE - 2))
check "S01 read-only: S02 and S03 stored" others_grew

phase "S01 writable again" remount rw "$data/S01"
check "S01 writable: storing resumes" grew 1

log_lines_before=$(station_log "$data" | wc -l)
phase "data folder read-only" remount ro "$data"
check "data read-only: station alive" alive $station
for i in $(seq 1 $N); do check "data read-only: $(sensor_name "$i") still polled" polled "$i"; done
check "data read-only: S02 and S03 stored nothing" bash -c '[ "$1" = "$2" ]' _ "$(sed -n 2,3p <<<"$a" | cut -d' ' -f1)" "$(sed -n 2,3p <<<"$b" | cut -d' ' -f1)"

phase "data folder writable again" remount rw "$data"
for i in $(seq 1 $N); do check "data writable: $(sensor_name "$i") stores again" grew "$i"; done
check "data writable: the log goes on" test "$(station_log "$data" | wc -l)" -gt "$log_lines_before"

phase "data folder full" fill "$data"
check "data full: station alive" alive $station
for i in $(seq 1 $N); do check "data full: $(sensor_name "$i") still polled" polled "$i"; done

phase "data folder free again" unfill "$data"
for i in $(seq 1 $N); do check "data free: $(sensor_name "$i") stores again" grew "$i"; done

stop_station $station 10
check "SIGTERM closes with 0 (took ${STOP_TOOK}s)" test "$STOP_RC" = 0
check "App end! last" test "$(station_log "$data" | tail -1)" = "App end!"
# Every poll of S01 ended as a stored record or a logged loss (but the first and last).
s01_stored=$(($(records 1) - 184))
check "S01: every poll stored or logged as lost ($s01_stored + $(lost_lines 1) of $(polls 1))" \
  test $((s01_stored + $(lost_lines 1))) -ge $(($(polls 1) - 2))
for i in $(seq 1 $N); do
  r=$(records "$i")
  echo "# $(sensor_name "$i"): $r records in all, $(polls "$i") polls, $(lost_lines "$i") logged as lost"
  check "$(sensor_name "$i") hour files well-formed at the end" test "${r:0:3}" != BAD
done

kill $sim 2>/dev/null; wait $sim 2>/dev/null
finish "data-folder"

#!/usr/bin/env bash
# The real station loses its settings file while running: it keeps polling and storing,
# and the save at its close writes a complete, sealed settings file again, from which a
# restart comes up with the same sensors and settings as after an ordinary close.
set -uo pipefail
. "$(dirname "$0")/lib.sh"
BIN=$1
SIM=$2
readonly N=3

root=$(mktemp -d)
trap 'kill $(jobs -p) 2>/dev/null; wait 2>/dev/null; rm -rf "$root"' EXIT

# The settings as UTF-8 "section|key=value" lines, sorted, without the checksum, the window
# position (the window manager's) and the sensors' last-reading times (they move on); the
# home folder HOME ($2) shows as "HOME".
settings_lines() {
  iconv -f UTF-16LE -t UTF-8 "$1" | sed '1s/^\xEF\xBB\xBF//' | tr -d '\r' | sed "s|$2|HOME|g" |
    awk '/^\[/ {sec = $0; next} NF {print sec "|" $0}' |
    grep -v -E '^\[(md5|Pos)\]|^\[[0-9]+\]\|(L(Year|Month|Day|Hour|Minute|Second))=' | sort
}

# run_station HOME SECONDS [DELETE_AFTER]: runs it for SECONDS, deleting the settings file
# after DELETE_AFTER seconds when given, then closes it (STOP_RC, STOP_TOOK).
run_station() {
  local home=$1 seconds=$2 delete_after=${3:-} pid
  HYGROLOG_HOME=$home "$BIN" > "$root/station.out" 2>&1 &
  pid=$!
  if [ -n "$delete_after" ]; then
    sleep "$delete_after"
    rm -f "$home/Veltrix/Hygrolog/Settings.ini"
    sleep $((seconds - delete_after))
    alive "$pid" && echo "alive after the deletion" >> "$root/notes"
  else
    sleep "$seconds"
  fi
  stop_station "$pid" 10
}

run_sim "$root/sim.log" --count $N
sim=$!
wait_until 5 has_line "$root/sim.log" "ready $N sensors" || { echo "FAIL - simulator not ready"; exit 1; }

# An ordinary run and close: what a complete file holds.
control=$root/control
mkdir -p "$control/Veltrix/Hygrolog"
write_settings "$control/Veltrix/Hygrolog/Settings.ini" UDP 1 "" $N
run_station "$control" 4
check "control run closes with 0" test "$STOP_RC" = 0
settings_lines "$control/Veltrix/Hygrolog/Settings.ini" "$control" > "$root/control.txt"

# The same, but the file is deleted two seconds in.
home=$root/home
data=$home/Veltrix/Hygrolog
mkdir -p "$data"
write_settings "$data/Settings.ini" UDP 1 "" $N
before=$(count_records "$data/S01")
run_station "$home" 8 2
check "station keeps running without its settings file" grep -qx "alive after the deletion" "$root/notes"
check "SIGTERM closes with 0 (took ${STOP_TOOK}s)" test "$STOP_RC" = 0
log=$(station_log "$data")
check "App end! last" test "$(tail -1 <<<"$log")" = "App end!"
check "the loss is logged" grep -qx "Settings file missing, written again from the settings in use!" <<<"$log"
# Readings went on after the deletion: polls every second for 6 s.
after=$(count_records "$data/S01")
echo "# S01 records: $after in 8 s, the file deleted at 2 s"
check "readings stored after the deletion" test "$after" -ge 7
check "settings file written again" test -f "$data/Settings.ini"
check "settings file mode 0600" test "$(stat -c %a "$data/Settings.ini")" = 600
settings_lines "$data/Settings.ini" "$home" > "$root/rewritten.txt"
echo "# keys after an ordinary close: $(wc -l < "$root/control.txt"), after the deletion: $(wc -l < "$root/rewritten.txt")"
if ! diff -u "$root/control.txt" "$root/rewritten.txt" > "$root/diff.txt"; then
  sed 's/^/#   /' "$root/diff.txt"
fi
check "rewritten file holds what an ordinary close writes" test ! -s "$root/diff.txt"
check "rewritten file is sealed" grep -qE '^\[md5\]\|v=[0-9a-f]{32}$' < <(
  iconv -f UTF-16LE -t UTF-8 "$data/Settings.ini" | tr -d '\r' | awk '/^\[/ {sec = $0; next} NF {print sec "|" $0}')

# A restart accepts the file and comes up with the same sensors, polling and storing.
mv "$data/Log" "$root/first-log"
records_before=$(count_records "$data/S03")
run_station "$home" 4
check "restart closes with 0" test "$STOP_RC" = 0
check "restart accepts the file (nothing rejected)" test ! -e "$data/Settings.ini.rejected"
log=$(station_log "$data")
check "restart reads the settings without a checksum complaint" bash -c '! grep -q "MD5" <<<"$1"' _ "$log"
for i in $(seq 1 $N); do
  check "restart knows sensor $i as $(sensor_name "$i") at $(sensor_ip "$i")" bash -c \
    'grep -qx "Dev$1 Set Name:$2 Success!" <<<"$4" && grep -qx "Dev$1 Set RemoteIP:$3 Success!" <<<"$4"' \
    _ $((i - 1)) "$(sensor_name "$i")" "$(sensor_ip "$i")" "$log"
done
check "restart stores into the same folders" test "$(count_records "$data/S03")" -gt "$records_before"

kill $sim 2>/dev/null; wait $sim 2>/dev/null
finish "settings-deleted"

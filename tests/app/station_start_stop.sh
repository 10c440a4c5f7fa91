#!/usr/bin/env bash
# Starts and stops the real station offscreen with a private HYGROLOG_HOME and checks
# what it leaves on disk. The settings checksum is verified independently (iconv, awk,
# md5sum), and a settings file is also written that way, as another writer would.
set -uo pipefail
. "$(dirname "$0")/../../scripts/settings-file.sh"

BIN=$1
# The station talks to the network from its first second: keep it in a namespace of its own.
if [ -z "${HYGRO_PRIVATE_NETNS:-}" ]; then
  export HYGRO_PRIVATE_NETNS=1
  if [ "$(id -u)" = 0 ]; then exec unshare -n -- bash "$0" "$@"; fi
  if unshare -rn true 2>/dev/null; then exec unshare -rn -- bash "$0" "$@"; fi
  echo "SKIP: cannot create a private network namespace"; exit 77
fi
export QT_QPA_PLATFORM=offscreen
export HYGROLOG_AUTO_ANSWER=ok
failures=0
pass() { echo "ok   - $*"; }
fail() { echo "FAIL - $*"; failures=$((failures + 1)); }
check() { local what=$1; shift; if "$@"; then pass "$what"; else fail "$what"; fi; }

root=$(mktemp -d)
trap 'kill -9 $(jobs -p) 2>/dev/null; rm -rf "$root"' EXIT

# The file's text without its [md5] section, as UTF-8.
strip_md5() {
  iconv -f UTF-16LE -t UTF-8 < "$1" | awk '
    /^\[/ { skip = (tolower($0) ~ /^\[md5\]/) }
    !skip { print }' ORS='\n' RS='\n'
}
stored_md5() { iconv -f UTF-16LE -t UTF-8 < "$1" | awk '/^\[md5\]/{m=1;next} /^\[/{m=0} m && /^v=/{sub(/^v=/,""); sub(/\r$/,""); print}'; }
md5_verifies() {
  local f=$1 want got
  want=$(stored_md5 "$f")
  got=$(strip_md5 "$f" | iconv -f UTF-8 -t UTF-16LE | md5sum | cut -d' ' -f1)
  [ -n "$want" ] && [ "$want" = "$got" ]
}

# Starts the station for home $1, output to $2; waits until the log shows the tables.
# A previous run's log does not count: the station deletes it at start.
start_station() {
  local old f
  old=$(ls "$1"/Veltrix/Hygrolog/Log 2>/dev/null)
  HYGROLOG_HOME=$1 "$BIN" > "$2" 2>&1 &
  pid=$!
  for _ in $(seq 1 200); do
    for f in "$1"/Veltrix/Hygrolog/Log/Log*.txt; do
      [ -e "$f" ] || continue
      grep -qxF "$(basename "$f")" <<<"$old" && continue
      grep -qs "Tree Init" "$f" && return 0
    done
    kill -0 $pid 2>/dev/null || return 1
    sleep 0.1
  done
  return 1
}
stop_station() { # signal
  kill -"$1" $pid
  for _ in $(seq 1 100); do kill -0 $pid 2>/dev/null || break; sleep 0.1; done
  wait $pid
}
log_lines() { cat "$1"/Veltrix/Hygrolog/Log/Log*.txt | cut -c25- | tr -d '\r'; }

echo "# first start"
home=$root/first
data=$home/Veltrix/Hygrolog
check "station starts" start_station "$home" "$root/first.out"
check "settings file created with the chosen command port" bash -c "iconv -f UTF-16LE -t UTF-8 < '$data/Settings.ini' | tr -d '\r' | grep -qE '^LocalPortForCmd=[1-9][0-9]*$'"
check "settings file verifies while running" md5_verifies "$data/Settings.ini"
check "settings file is private" test "$(stat -c %a "$data/Settings.ini")" = "600"
check "demoFile.kvp created empty" test -f "$data/demoFile.kvp" -a ! -s "$data/demoFile.kvp"
check "one log file" test "$(ls "$data/Log" | wc -l)" = 1
before=$(cd "$data" && find . -path ./Log -prune -o -type f -print0 | sort -z | xargs -0 md5sum)
HYGROLOG_HOME=$home timeout 20 "$BIN" > "$root/second.out" 2>&1
check "second instance exits 0" test $? -eq 0
check "second instance is refused" grep -q "hygrolog message: Can't run too many this App!" "$root/second.out"
after=$(cd "$data" && find . -path ./Log -prune -o -type f -print0 | sort -z | xargs -0 md5sum)
check "second instance touched no file" test "$before" = "$after"
stop_station TERM
check "SIGTERM exits 0" test $? -eq 0
expected_start=$'App start!\nDev Init Success!\nPic Init Success!\nLumo Init Success!\nNet Init Success!\nTable Init Success!\nTree Init Success!'
check "log begins with App start! and the six table lines" test "$(log_lines "$home" | head -7)" = "$expected_start"
check "log ends with App end!" test "$(log_lines "$home" | tail -1)" = "App end!"
check "checksum verifies after exit" md5_verifies "$data/Settings.ini"
check "counts written" bash -c "iconv -f UTF-16LE -t UTF-8 < '$data/Settings.ini' | grep -q '^Tcount=0'"

echo "# a device list written by another writer; a killed station"
home=$root/seeded
data=$home/Veltrix/Hygrolog
mkdir -p "$data"
to_profile > "$data/Settings.ini" <<'INI'
[LSensor]
Rcount=1
Tcount=2
[1]
name=Cold room
FolderName=cold
HMax=8.0
DeviceIPandPort=198.18.0.20:5000
No=7
[2]
Serial=000042
INI
seal_profile "$data/Settings.ini"
check "seeded station starts" start_station "$home" "$root/seeded1.out"
check "seeded file passes the check" bash -c "! grep -q 'MD5 failed' '$root/seeded1.out'"
stop_station KILL
check "restart after SIGKILL" start_station "$home" "$root/seeded2.out"
check "killed station's file still passes the check" bash -c "! grep -q 'MD5 failed' '$root/seeded2.out'"
check "device list loaded" bash -c "cat '$data'/Log/Log*.txt | grep -q 'Dev0 Set Name:Cold room Success!'"
check "found sensor loaded" bash -c "cat '$data'/Log/Log*.txt | grep -q 'Dev1 Set Serial:000042 Success!'"
stop_station TERM
check "seeded SIGTERM exits 0" test $? -eq 0
check "seeded checksum verifies" md5_verifies "$data/Settings.ini"
check "device list written back" bash -c "iconv -f UTF-16LE -t UTF-8 < '$data/Settings.ini' | tr -d '\r' | grep -qx 'DeviceIPandPort=198.18.0.20:5000'"
check "limit written with one decimal" bash -c "iconv -f UTF-16LE -t UTF-8 < '$data/Settings.ini' | tr -d '\r' | grep -qx 'HMax=8.0'"

echo "# a tampered and a garbage settings file"
for kind in tampered garbage; do
  home=$root/$kind
  data=$home/Veltrix/Hygrolog
  mkdir -p "$data"
  if [ $kind = tampered ]; then
    to_profile > "$data/Settings.ini" <<'INI'
[LSensor]
Rcount=1
Tcount=1
[1]
name=Lab
INI
    seal_profile "$data/Settings.ini"
    # One changed byte after sealing.
    printf 'X' | dd of="$data/Settings.ini" bs=1 seek=10 conv=notrunc status=none
    want="File:settings.ini check with MD5 failed2!"
  else
    head -c 4097 /dev/urandom > "$data/Settings.ini"
    want="File:settings.ini check with MD5 failed1!"
  fi
  cp "$data/Settings.ini" "$root/$kind.orig"
  check "$kind: station starts" start_station "$home" "$root/$kind.out"
  check "$kind: rejected with its message" grep -qF "hygrolog message: $want" "$root/$kind.out"
  check "$kind: rejected file kept" cmp -s "$data/Settings.ini.rejected" "$root/$kind.orig"
  check "$kind: starts with an empty device list" bash -c "! grep -q 'Dev0 Set' '$data'/Log/Log*.txt"
  stop_station TERM
  check "$kind: exits 0" test $? -eq 0
  check "$kind: new file verifies" md5_verifies "$data/Settings.ini"
done

if [ $failures -ne 0 ]; then echo "$failures check(s) failed"; exit 1; fi
echo "all station start/stop checks passed"

#!/usr/bin/env bash
# The whole station as a new user meets it, under a private X server, inside the private
# network of tests/support/run_in_netns.sh: drive.py searches, adds, names, alarms, mails,
# makes a map file and restarts, with real input events; screenshots in SHOTS_DIR.
#
#   station_e2e.sh STATION SIM PEER_DIR SHOTS_DIR
set -uo pipefail
: "${HYGRO_SIM_NETNS_PID:?run through tests/support/run_in_netns.sh}"
for tool in Xvfb xdotool xwd xwdtopnm pnmtopng node; do
  command -v "$tool" >/dev/null || { echo "SKIP: $tool is missing"; exit 77; }
done
[ -d "$3/node_modules/smtp-server" ] || { echo "SKIP: npm ci --prefix $3 has not run"; exit 77; }

rm -rf "$4" && mkdir -p "$4"
# -displayfd picks a free display number, so a desktop or another test is never disturbed.
exec 5< <(Xvfb -displayfd 1 -screen 0 1280x900x24 -nolisten tcp 2>"$4/xvfb.err")
read -r -t 20 display <&5 || { echo "FAIL - Xvfb did not start"; cat "$4/xvfb.err"; exit 1; }
xvfb=$!
trap 'kill $xvfb 2>/dev/null' EXIT
export DISPLAY=:$display QT_QPA_PLATFORM=xcb
/usr/bin/python3 "$(dirname "$0")/drive.py" "$@"

#!/usr/bin/env bash
# cmake --install puts the station, the simulator, the menu entry and the icon where a
# desktop finds them, and the installed programs run from there.
#   install_test.sh BUILD_DIR
set -uo pipefail
prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT
failures=0
check() { local what=$1; shift; if "$@"; then echo "ok   - $what"; else echo "FAIL - $what"; failures=$((failures + 1)); fi; }

cmake --install "$1" --prefix "$prefix" > "$prefix/install.log" 2>&1 || { cat "$prefix/install.log"; exit 1; }
check "station in bin" test -x "$prefix/bin/hygrolog"
check "simulator in bin" test -x "$prefix/bin/hygrolog-sim"
desktop=$prefix/share/applications/hygrolog.desktop
check "menu entry" test -f "$desktop"
for key in "Type=Application" "Name=Hygrolog" "Exec=hygrolog" "Icon=hygrolog" "Terminal=false"; do
  check "menu entry has $key" grep -qx "$key" "$desktop"
done
check "icon" grep -q "<svg" "$prefix/share/icons/hicolor/scalable/apps/hygrolog.svg"
check "installed simulator runs" "$prefix/bin/hygrolog-sim" --help >/dev/null
# Without any display the station says how to start it instead of failing obscurely.
out=$(env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$prefix/bin/hygrolog" 2>&1)
check "installed station runs and explains a missing display" grep -q "no graphical session" <<<"$out"
exit $((failures > 0))

#!/usr/bin/env bash
# Installs what is missing, builds the station and runs it.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
cmake --preset default
cmake --build build -j"$(nproc)" --target hygrolog
if [ -z "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
  echo "No display found: running under a virtual X server (xvfb-run)." >&2
  exec xvfb-run -a build/hygrolog "$@"
fi
exec build/hygrolog "$@"

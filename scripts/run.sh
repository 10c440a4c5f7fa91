#!/usr/bin/env bash
# Installs what is missing, builds the station and the sensor simulator, and runs the
# demo: the station with four simulated sensors in a private network (scripts/demo.sh).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
cmake --preset default
cmake --build build -j"$(nproc)" --target hygrolog hygrolog-sim
exec bash scripts/demo.sh build/hygrolog build/hygrolog-sim

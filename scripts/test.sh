#!/usr/bin/env bash
# Installs what is missing, builds everything and runs every test.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
cmake --preset default
cmake --build build -j"$(nproc)"
# The SMTP client tests talk to a real SMTP server (the npm package smtp-server) on
# 127.0.0.1, installed from its lock file (again only when the lock changed).
peer=tests/mail/peer
lock_sum=$(sha256sum "$peer/package-lock.json" | cut -d' ' -f1)
if [ "$(cat "$peer/node_modules/.lock-sum" 2>/dev/null)" != "$lock_sum" ]; then
  npm ci --prefix "$peer" --no-audit --no-fund
  echo "$lock_sum" > "$peer/node_modules/.lock-sum"
fi
ctest --test-dir build --output-on-failure -j"$(nproc)"

#!/usr/bin/env bash
# Installs the Debian packages Hygrolog needs to build, run and test; only what is missing.
set -euo pipefail

pkgs=(
  build-essential cmake ninja-build pkg-config
  qt6-base-dev libqcustomplot-dev libgl-dev
  libssl-dev zlib1g-dev
  googletest libgtest-dev libgmock-dev libbenchmark-dev
  iproute2 util-linux fonts-wqy-microhei
  xvfb xauth xdotool x11-apps netpbm python3-xlib
  nodejs npm
)

missing=()
for p in "${pkgs[@]}"; do
  # nodejs may come from another origin with npm bundled; accept any installed node/npm
  case "$p" in
    nodejs) command -v node >/dev/null 2>&1 && continue ;;
    npm) command -v npm >/dev/null 2>&1 && continue ;;
  esac
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'ok installed'; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
echo "Installing: ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y --no-install-recommends "${missing[@]}"

#!/usr/bin/env bash
# Installs everything Mbxvane needs to build, run and test on Debian 12.
# Usage: scripts/deps.sh [run|test|fuzz]   (test also installs the file-format checkers; fuzz
# the clang toolchain with libFuzzer for scripts/fuzz.sh)
set -euo pipefail
mode=${1:-run}
sudo=""
if [ "$(id -u)" -ne 0 ]; then sudo="sudo"; fi

packages=(
  build-essential cmake ninja-build pkg-config
  qt6-base-dev qt6-svg-dev libgl-dev
  libgmime-3.0-dev libxxhash-dev libjemalloc-dev shared-mime-info
  fonts-wine
)
if [ "$mode" = test ]; then
  packages+=(
    libgtest-dev xvfb xauth
    # The file checkers (libgsf-bin's gsf reads .msg files too). msgconvert needs
    # Email::Address, which its package only recommends.
    python3 python3-olefile python3-pypff pff-tools pst-utils libgsf-bin
    perl libemail-outlook-message-perl libemail-address-perl
  )
  # The npm checkers come from the registry (tests/checkers/package-lock.json) over HTTPS.
  packages+=(ca-certificates)
  { command -v node && command -v npm; } >/dev/null 2>&1 || packages+=(nodejs npm)
fi
if [ "$mode" = fuzz ]; then
  packages+=(libgtest-dev clang-14 libclang-rt-14-dev)
fi

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

if [ "$mode" = test ]; then
  here=$(cd "$(dirname "$0")/.." && pwd)
  (cd "$here/tests/checkers" && npm ci --no-audit --no-fund --loglevel=error)
fi

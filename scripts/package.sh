#!/usr/bin/env bash
# Installs the build dependencies, builds Mbxvane (release) and makes the Debian package
# build/package/mbxvane_VERSION_ARCH.deb. Install it with: sudo apt install ./build/package/mbxvane_*.deb
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh run
cmake -S . -B build/package -G Ninja -DCMAKE_BUILD_TYPE=Release -DMBX_BUILD_TESTS=OFF
cmake --build build/package
rm -f build/package/mbxvane_*.deb
(cd build/package && cpack -G DEB)
ls -l build/package/mbxvane_*.deb

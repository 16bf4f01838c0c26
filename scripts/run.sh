#!/usr/bin/env bash
# Installs the dependencies, builds Mbxvane (release) and starts it.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh run
cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=Release -DMBX_BUILD_TESTS=OFF
cmake --build build/release --target mbxvane
exec build/release/app/mbxvane "$@"

#!/usr/bin/env bash
# Installs the dependencies and checkers, builds with AddressSanitizer and
# UndefinedBehaviorSanitizer (warnings are errors) and runs every test through ctest; then builds
# the converter as users get it (Release) and converts with it.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh test
tests/checkers/preflight.sh
cmake -S . -B build/test -G Ninja -DCMAKE_BUILD_TYPE=Debug -DMBX_SANITIZE=ON -DMBX_WERROR=ON \
  -DCMAKE_CXX_FLAGS="-O1"
cmake --build build/test
export ASAN_OPTIONS=detect_leaks=0:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
export QT_QPA_PLATFORM=offscreen
ctest --test-dir build/test --output-on-failure -j2
tests/cli/release_test.sh build/release-check build/release-check-scratch

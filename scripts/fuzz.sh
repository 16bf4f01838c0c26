#!/usr/bin/env bash
# Builds the fuzz harnesses (clang + libFuzzer, with ASan and UBSan) and runs each one for
# SECONDS (default 180), one after the other. Stops at the first finding and names the input
# that reproduces it. New inputs the fuzzer finds interesting are kept under the work folder and
# used again by the next run.
# Usage: scripts/fuzz.sh [SECONDS]
#   FUZZ_BUILD_DIR  build folder (default build/fuzz)
#   FUZZ_WORK_DIR   grown corpora, logs and findings (default build/fuzz/work)
#   FUZZ_ONLY       run only this harness (import_write, import_model, separator or toc)
set -euo pipefail
seconds=${1:-180}
here=$(cd "$(dirname "$0")/.." && pwd)
build=${FUZZ_BUILD_DIR:-$here/build/fuzz}
work=${FUZZ_WORK_DIR:-$build/work}
harnesses=(import_write import_model separator toc)
if [ -n "${FUZZ_ONLY:-}" ]; then harnesses=("$FUZZ_ONLY"); fi

"$here/scripts/deps.sh" fuzz
launcher=()
if command -v ccache >/dev/null 2>&1; then
  launcher=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
fi
CC=clang-14 CXX=clang++-14 cmake -S "$here" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DMBX_FUZZ=ON "${launcher[@]}" >/dev/null
cmake --build "$build" --target "${harnesses[@]/#/fuzz_}"

# The harnesses write a .msg and a .pst (which is synced) for every input: keep them in memory.
if [ -d /dev/shm ] && [ -w /dev/shm ]; then export TMPDIR=/dev/shm; fi

for name in "${harnesses[@]}"; do
  case $name in
    separator) corpus=separator; dict=() ;;
    toc) corpus=toc; dict=() ;;
    *) corpus=import; dict=(-dict="$here/tests/fuzz/mime.dict") ;;
  esac
  mkdir -p "$work/$name/corpus" "$work/$name/findings"
  echo "== $name for $seconds s"
  # New inputs go into the first folder; the stored corpus and regression inputs are read too.
  # A 16 MiB quarantine (ASan's default is 256 MiB), 8 frames per allocation stack and no fill
  # of new blocks: with the defaults, touching fresh quarantine pages (page faults, TLB flushes)
  # was most of the time per input. Freed blocks are still caught while among the last 16 MiB.
  # Leaks are not looked for (detect_leaks=0), so libFuzzer is told too: otherwise it runs an
  # input a second time whenever it made more allocations than it freed (14 % of the CPU samples
  # of replaying 60 inputs of a grown corpus), only to skip the leak check.
  status=0
  ASAN_OPTIONS=detect_leaks=0:abort_on_error=1:quarantine_size_mb=16:malloc_context_size=8:max_malloc_fill_size=0 \
    UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
    "$build/tests/fuzz/fuzz_$name" -max_total_time="$seconds" -timeout=30 -rss_limit_mb=4096 -detect_leaks=0 \
    -print_final_stats=1 -artifact_prefix="$work/$name/findings/" "${dict[@]}" \
    "$work/$name/corpus" "$here/tests/fuzz/corpus/$corpus" "$here/tests/fuzz/regressions/$corpus" \
    >"$work/$name/log.txt" 2>&1 || status=$?
  grep -E "^stat::(number_of_executed_units|average_exec_per_sec|peak_rss_mb)|^Done" \
    "$work/$name/log.txt" || true
  if [ "$status" -ne 0 ]; then
    tail -n 40 "$work/$name/log.txt"
    echo "FINDING in $name (log: $work/$name/log.txt). Reproducer:"
    ls -1 "$work/$name/findings/"*
    exit 1
  fi
done
echo "No findings."

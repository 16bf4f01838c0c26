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
    separator) corpus=separator; limits=() ;;
    toc) corpus=toc; limits=() ;;
    *) corpus=import; limits=(-dict="$here/tests/fuzz/mime.dict" -max_len=1024) ;;
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
  # -max_len=1024 (the MIME harnesses): every structure of the stored inputs lies within their
  # first 1,024 bytes (the last part header of NestedMultiparts.eml starts at byte 698; only the
  # base64 lines of AlternativeWithRelatedImages.eml and its last attachment lie beyond), and
  # libFuzzer cuts longer inputs to this size when it reads them. Without it, libFuzzer took
  # its limit from the largest grown input (27 KB, 3,000 empty MIME parts, 650 ms each): such
  # inputs filled the grown corpus and the run went at 16 inputs/s. Messages of thousands of
  # parts are covered by the unit tests and the replayed regression input of 3,000 parts, and
  # timed by `mbxvane-bench parts` (each stage grows linearly with the parts).
  # -entropic_scale_per_exec_time=1: of two inputs that bring equally rare features, the
  # quicker one is mutated more often (1 KB of 103 empty parts takes about 15 ms of CPU, a
  # three-line message about 3 ms). -entropic=0 instead: 133 inputs per CPU second in a 60 s
  # run against 251 (the replay of the grown corpus included in both).
  # With these, import_write for 500 s on a copy of a grown corpus of 859 inputs (2026-12-08):
  # 70,805 inputs, 445 per CPU second; 356 per second of wall clock while it had a core, 141
  # over the whole run beside a conversion at a higher priority (bench/README.md, fuzz section).
  # -timeout=300: libFuzzer's timeout is wall time, and on a shared machine a process may be
  # stopped for minutes (an input of 0.3 s was once reported as a timeout after 101 s); a real
  # hang still ends the run.
  status=0
  ASAN_OPTIONS=detect_leaks=0:abort_on_error=1:quarantine_size_mb=16:malloc_context_size=8:max_malloc_fill_size=0 \
    UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
    "$build/tests/fuzz/fuzz_$name" -max_total_time="$seconds" -timeout=300 -rss_limit_mb=4096 -detect_leaks=0 \
    -entropic_scale_per_exec_time=1 \
    -print_final_stats=1 -artifact_prefix="$work/$name/findings/" "${limits[@]}" \
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

#!/usr/bin/env bash
# The build users get (Release, its own allocator) is not the one the suite tests (sanitizers):
# this builds its converter and converts a few thousand messages, many threads' worth, to each
# target, read back and verified.
# Usage: release_test.sh BUILD_DIR SCRATCH_DIR
set -euo pipefail
build=$1 scratch=$2
cd "$(dirname "$0")/../.."
fail() { echo "FAIL: $*" >&2; exit 1; }

cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DMBX_WERROR=ON -DMBX_BUILD_TESTS=OFF \
  -DMBX_BUILD_GUI=OFF >/dev/null
cmake --build "$build" --target mbxvane-convert
convert=$build/cli/mbxvane-convert
ldd "$convert" | grep -q libjemalloc || fail "mbxvane-convert does not link jemalloc"

rm -rf "$scratch"
mkdir -p "$scratch"
# The Eudora test mailboxes, two hundred times over, as one mailbox (a line end after each: one
# ends without).
for _ in $(seq 200); do
  for mailbox in tests/data/eudora/*.mbx; do cat "$mailbox" && printf '\r\n'; done
done >"$scratch/many.mbx"
want=$(grep -c '^From ???@???' "$scratch/many.mbx")
for format in pst msg eml; do
  rc=0
  "$convert" --format "$format" --out "$scratch/$format" "$scratch/many.mbx" >"$scratch/$format.txt" 2>&1 ||
    rc=$?
  [ $rc -eq 0 ] || { cat "$scratch/$format.txt"; fail "$format: exit code $rc"; }
  grep -qx "Verified $want of $want messages" "$scratch/$format.txt" ||
    { cat "$scratch/$format.txt"; fail "$format: not every message verified"; }
done
rm -rf "$scratch"
echo "release test passed: $want messages to each target"

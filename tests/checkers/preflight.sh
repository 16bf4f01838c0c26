#!/usr/bin/env bash
# Runs every outside reader the tests use once, on a reference file of tests/data, and stops
# with the name of the package to install when one does not work. A reader that is present but
# cannot start (a missing Perl module, say) fails here instead of in the middle of the tests.
# Usage: tests/checkers/preflight.sh [SCRATCH_DIR [CHECKERS_DIR]]   (CHECKERS_DIR holds node_modules)
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
data="$here/../data"
pst="$data/pst/outlook-blank.pst"
msg="$data/msg/Simple.msg"
work=${1:-$(mktemp -d)}
checkers=${2:-$here}
mkdir -p "$work"
failed=0

check() { # check PACKAGE WHAT COMMAND...
  local package=$1 what=$2
  shift 2
  local output
  if ! output=$("$@" 2>&1); then
    echo "MISSING: $what does not work; install the Debian package '$package'" \
      "(scripts/deps.sh test installs every checker)."
    printf '%s\n' "$output" | tail -n 5 | sed 's/^/    /'
    failed=1
  fi
}

check python3 "python3" /usr/bin/python3 -c 'import email, json, hashlib'
check python3-olefile "olefile" \
  /usr/bin/python3 -c 'import olefile, sys; olefile.OleFileIO(sys.argv[1]).listdir()' "$msg"
check pff-tools "pffinfo" pffinfo "$pst"
rm -rf "$work/pffexport.export"
check pff-tools "pffexport" pffexport -q -t "$work/pffexport" "$pst"
rm -rf "$work/readpst" && mkdir -p "$work/readpst"
check pst-utils "readpst" readpst -q -j 0 -e -o "$work/readpst" "$pst"
check libemail-address-perl "the Perl module Email::Address (needed by msgconvert)" \
  perl -MEmail::Address -e 1
rm -rf "$work/msgconvert" && mkdir -p "$work/msgconvert" && cp "$msg" "$work/msgconvert/"
check libemail-outlook-message-perl "msgconvert" \
  sh -c 'cd "$1" && msgconvert Simple.msg && test -s Simple.eml' sh "$work/msgconvert"
check nodejs "node" node -e 0
if [ $failed -eq 0 ]; then
  # The node readers come from the registry through tests/checkers/package-lock.json.
  check "nodejs and npm, then run: (cd tests/checkers && npm ci)" "msgreader" \
    node "$here/../msg/msgreader_dump.js" "$checkers/node_modules" "$msg"
  check "nodejs and npm, then run: (cd tests/checkers && npm ci)" "pst-extractor" \
    node "$here/../pst/pst_extractor_dump.js" "$checkers" "$pst" "$work"
fi
[ -n "${1:-}" ] || rm -rf "$work"
if [ $failed -ne 0 ]; then
  echo "The file checkers above are missing; the tests cannot check the files they write."
  exit 1
fi
echo "checkers: python3, olefile, pffinfo, pffexport, readpst, msgconvert, msgreader," \
  "pst-extractor all work"

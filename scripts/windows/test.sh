#!/usr/bin/env bash
# Tests the Windows build (scripts/windows/build.sh) under Wine:
#   1. the unit tests (GoogleTest, built for Windows; the window's tests on Qt's offscreen
#      platform), except those that need a Linux-only checker or system call (listed below);
#   2. the repository's mailboxes converted by mbxvane-convert.exe from the zip's folder, against
#      the Linux build's mbxvane-convert: .eml byte for byte, .msg and .pst through the
#      independent readers (olefile, msgconvert, pffexport) with the same content;
#   3. mailbox and folder names with non-ASCII letters, a sparse mailbox over 4 GiB, a full
#      output device (a small tmpfs shown to Wine as a drive; needs root);
#   4. the window started under Xvfb, with a screenshot (build/windows/window.png).
# The Linux build compared against is build/test (scripts/test.sh) or MBX_LINUX_BUILD.
set -euo pipefail
here=$(cd "$(dirname "$0")/../.." && pwd)
out=$here/build/windows
# shellcheck source=/dev/null
. "$out/env.sh"
export WINEPREFIX WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" LC_ALL=C.UTF-8
stage=$(find "$out" -maxdepth 1 -type d -name 'Mbxvane-*-windows-x64' | head -1)
linux=${MBX_LINUX_BUILD:-$here/build/test}
work=$out/test
rm -rf "$work"
mkdir -p "$work"
failed=()
pass() { printf 'PASS %s\n' "$1"; }
fail() { printf 'FAIL %s\n' "$1"; failed+=("$1"); }
step() { printf '\n== %s\n' "$*"; }

# Xvfb and the screenshot tools, and the readers the output is checked with.
packages=(xvfb xauth x11-utils x11-apps netpbm python3-olefile pff-tools fonts-dejavu-core
  libemail-outlook-message-perl libemail-address-perl)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  sudo=""
  if [ "$(id -u)" -ne 0 ]; then sudo="sudo"; fi
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends \
    "${missing[@]}" >/dev/null
fi

for needed in "$stage/mbxvane-convert.exe" "$linux/cli/mbxvane-convert"; do
  [ -x "$needed" ] || { echo "missing $needed (run scripts/windows/build.sh and scripts/test.sh)" >&2; exit 2; }
done
# The Linux build may carry the sanitizers.
export ASAN_OPTIONS=detect_leaks=0:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
wineboot -i >/dev/null 2>&1 || true

# --- 1. unit tests ---------------------------------------------------------------------------------
step "unit tests under Wine"
# Tests that cannot run under Wine, with the reason:
skips=(
  # The independent readers (pffexport, readpst, msgconvert, olefile, node's pst-extractor and
  # msgreader, check_cfb.py) are Linux programs, which a Windows program cannot start.
  "^(PstWriter|PstCheck|PstCheckTool|MsgRoundTrip|MsgLayout|StoreConversion|StoreConversionClose|EudoraImport)[./]"
  "^CompoundFile\\.RoundTripAtEveryBoundary$"
  "^MsgWriter\\.(AttachmentsBeyondTheFormatLimitAreLeftOutAndNoted|RecipientRowsStopAtTheFormatLimit)$"
  # The command line's tests start mbxvane-convert and the package through /bin/sh.
  "^(Targets/)?(ConvertCommand|Interrupt|ProgressLine)\\.|^PackageInstallsAndConverts$|^checkers\\.preflight$"
)
skip_regex=$(IFS='|'; echo "${skips[*]}")
for s in "${skips[@]}"; do echo "skipped under Wine: $s"; done
# The tests' scratch folders of an earlier run, removed from this side: some hold paths longer
# than Windows' 260 characters, which the tests' own clean-up under Wine cannot remove.
find "$out/build/tests" -maxdepth 2 -type d -name 'scratch-*' -exec rm -rf {} +
rm -rf /tmp/mbxvane-tests # the tests' scratch folder under Wine (tests/CMakeLists.txt)
gccdir=$(dirname "$(echo "$MBX_WINDOWS_RUNTIME" | awk '{print $1}')")
export WINEPATH="Z:$MBX_WINDOWS_QT/bin;Z:$gccdir;Z:/usr/x86_64-w64-mingw32/lib"
# The offscreen platform reads its fonts from a folder (FreeType), not from Windows: the same
# DejaVu fonts the Linux tests get through fontconfig.
if QT_QPA_PLATFORM=offscreen QT_PLUGIN_PATH="Z:$MBX_WINDOWS_QT/plugins" \
  QT_QPA_FONTDIR="Z:/usr/share/fonts/truetype/dejavu" \
  ctest --test-dir "$out/build" -E "$skip_regex" -j2 --timeout 900 --output-on-failure \
  >"$work/unit.log" 2>&1; then
  pass "unit tests ($(grep -o '[0-9]* tests failed out of [0-9]*\|100% tests passed, 0 tests failed out of [0-9]*' "$work/unit.log" | tail -1))"
else
  grep -E "\*\*\*Failed|Not Run|tests passed|tests failed" "$work/unit.log" | tail -40
  fail "unit tests (log: $work/unit.log)"
fi
unset WINEPATH

# --- 2. conversions against the Linux build ---------------------------------------------------------
win() { wine "$stage/mbxvane-convert.exe" "$@"; }
lin() { "$linux/cli/mbxvane-convert" "$@"; }
mailboxes=("$here/examples/Eudora" "$here/tests/data/eudora")
winpaths=()
for m in "${mailboxes[@]}"; do winpaths+=("Z:$m"); done

# Output trees without the .msg run's own data file, which is named after the time.
# The report names the mailboxes by each system's paths.
tree_of() { (cd "$1" && find . -type f ! -name 'Temp*.pst' ! -name 'Mbxvane report*' | LC_ALL=C sort); }

# Each folder of mailboxes goes to an output folder of its own: both hold a "Music" mailbox, one
# named .MBX and one .mbx, whose data files would share a name on Windows.
for format in eml msg pst; do
  step "$format: Windows against Linux"
  set +e
  lstatus=0 wstatus=0
  for i in "${!mailboxes[@]}"; do
    lin --quiet --format "$format" --out "$work/linux-$format/$i" "${mailboxes[$i]}" >>"$work/linux-$format.log" 2>&1 || lstatus=$?
    win --quiet --format "$format" --out "Z:$work/win-$format/$i" "${winpaths[$i]}" >>"$work/win-$format.log" 2>&1 || wstatus=$?
  done
  set -e
  if [ "$lstatus" != "$wstatus" ]; then
    fail "$format exit status: Linux $lstatus, Windows $wstatus"
  fi
  if ! diff <(tree_of "$work/linux-$format") <(tree_of "$work/win-$format") >"$work/$format-names.diff"; then
    fail "$format: the two runs wrote different files ($work/$format-names.diff)"
    continue
  fi
  count=$(tree_of "$work/linux-$format" | wc -l)
  case $format in
    eml)
      if diff -r -x 'Mbxvane report*' "$work/linux-eml" "$work/win-eml" >/dev/null; then
        pass "eml: $count files byte-identical"
      else
        fail "eml: files differ"
      fi ;;
    msg)
      # Every stream of every .msg, as olefile reads it, and msgconvert's reading of each.
      if /usr/bin/python3 "$here/scripts/windows/same_content.py" msg "$work/linux-msg" "$work/win-msg"; then
        pass "msg: $count files with the same streams (olefile) and read by msgconvert"
      else
        fail "msg: content differs"
      fi ;;
    pst)
      if /usr/bin/python3 "$here/scripts/windows/same_content.py" pst "$work/linux-pst" "$work/win-pst"; then
        pass "pst: $count data files with the same items (pffexport)"
      else
        fail "pst: content differs"
      fi ;;
  esac
done

# --- 3. names, a sparse mailbox over 4 GiB, a full device ---------------------------------------------
step "non-ASCII names"
names=$work/names/"Grüße aus Köln ✉ Ελληνικά 日本語"
mkdir -p "$names"
cp "$here/examples/Eudora/In.mbx" "$names/Überweisung für Zoë.mbx"
cp "$here/examples/Eudora/Out.mbx" "$names/Почта.mbx"
set +e
lin --quiet --format eml --out "$work/names-linux" "$names" >"$work/names-linux.log" 2>&1
win --quiet --format eml --out "Z:$work/names-win" "Z:$names" >"$work/names-win.log" 2>&1
set -e
if [ -n "$(tree_of "$work/names-win")" ] && diff -r "$work/names-linux" "$work/names-win" >/dev/null &&
  [ -d "$work/names-win${names}/Überweisung für Zoë.mbx" ]; then
  pass "non-ASCII names: $(tree_of "$work/names-win" | wc -l) files under the same names"
else
  fail "non-ASCII names ($work/names-win.log)"
fi

step "a sparse mailbox over 4 GiB"
big=$work/big/Big.mbx
mkdir -p "$work/big"
/usr/bin/python3 - "$big" <<'PY'
import sys
with open(sys.argv[1], "wb") as f:
    f.write(b"junk before the first message\r\n")
    base = (1 << 32) + 4096 + 123          # past 4 GiB, the bytes before are a hole
    f.seek(base)
    for i in range(3):
        f.write(b"From ???@??? Mon Jan 01 00:00:00 2001\r\nSubject: beyond 4 GiB %d\r\n\r\nbody %d\r\n" % (i, i))
PY
set +e
win --format eml --out "Z:$work/big-out" "Z:$big" >"$work/big.log" 2>&1
status=$?
set -e
bigdir="$work/big-out$work/big/Big.mbx"
if [ "$status" = 0 ] && [ "$(find "$bigdir" -name '*.eml' | wc -l)" = 3 ] &&
  grep -q "beyond 4 GiB 2" "$bigdir/email-2.eml"; then
  pass "sparse $(du -h --apparent-size "$big" | cut -f1) mailbox: 3 messages past 4 GiB found"
else
  fail "sparse mailbox over 4 GiB (status $status, $work/big.log)"
fi
rm -f "$big"

step "a full output device"
full=$work/full
mkdir -p "$full"
if [ "$(id -u)" = 0 ] && mount -t tmpfs -o size=256k tmpfs "$full" 2>"$work/mount.log"; then
  ln -sfn "$full" "$WINEPREFIX/dosdevices/q:"
  box=$work/full-in/In.mbx
  mkdir -p "$work/full-in"
  /usr/bin/python3 -c "
import sys
with open(sys.argv[1], 'wb') as f:
    for i in range(200):
        f.write(b'From ???@??? Mon Jan 01 00:00:00 2001\r\nSubject: %d\r\n\r\n' % i + b'x' * 3000 + b'\r\n')
" "$box"
  for format in eml pst; do
    set +e
    win --format "$format" --out 'q:\out' --report "Z:$work/full-$format.txt" "Z:$box" >"$work/full-$format.log" 2>&1
    status=$?
    set -e
    if [ "$status" = 1 ] && grep -q "the output device is full" "$work/full-$format.log" &&
      grep -q "No space left on device" "$work/full-$format.txt"; then
      pass "full device ($format): exit 1, 'the output device is full', 'No space left on device'"
    else
      fail "full device ($format): status $status ($work/full-$format.log)"
    fi
    rm -rf "${full:?}"/*
  done
  rm -f "$WINEPREFIX/dosdevices/q:"
  umount "$full"
else
  echo "SKIP full device: a tmpfs cannot be mounted here ($(cat "$work/mount.log" 2>/dev/null || echo 'not root'))"
fi

# --- 4. the window ------------------------------------------------------------------------------------
step "the window under Xvfb"
display=:$((90 + RANDOM % 9))
Xvfb "$display" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
sleep 2
# Wine's first start of a window program after the other steps has once shown nothing for two
# minutes (the same program showed its window within seconds when started again): a second start
# is tried after stopping Wine's server, and said.
geometry=""
for attempt in 1 2; do
  DISPLAY=$display wine "$stage/mbxvane.exe" >"$work/window.log" 2>&1 &
  app=$!
  for _ in $(seq 1 45); do
    geometry=$(DISPLAY=$display xwininfo -root -tree 2>/dev/null | grep -E '^ *0x[0-9a-f]+ "[^"]*Mbxvane' | head -1 || true)
    [ -n "$geometry" ] && break
    sleep 2
  done
  [ -n "$geometry" ] && break
  echo "no window after 90 s (start $attempt)"
  kill "$app" 2>/dev/null || true
  wineserver -k 2>/dev/null || true
done
sleep 3
if [ -n "$geometry" ]; then
  DISPLAY=$display xwd -root -silent >"$work/window.xwd"
  xwdtopnm "$work/window.xwd" 2>/dev/null | pnmtopng >"$out/window.png"
  # The window lies wholly on the screen: "WxH+X+Y" with X+W <= 1024 and Y+H <= 768.
  if echo "$geometry" | grep -oE '[0-9]+x[0-9]+\+-?[0-9]+\+-?[0-9]+' | head -1 |
    awk -Fx '{split($2, r, "+"); w=$1; h=r[1]; x=r[2]; y=r[3];
              exit !(w > 200 && h > 200 && x >= 0 && y >= 0 && x + w <= 1024 && y + h <= 768)}'; then
    again=""
    [ "$attempt" -gt 1 ] && again=", on the second start"
    pass "window shown whole ($(echo "$geometry" | sed 's/^ *//')$again); screenshot $out/window.png"
  else
    fail "window not whole on the screen: $geometry"
  fi
else
  fail "no window appeared ($work/window.log)"
fi
kill "$app" 2>/dev/null || true
wineserver -k 2>/dev/null || true
kill "$xvfb" 2>/dev/null || true

echo
if [ ${#failed[@]} -gt 0 ]; then
  printf 'Windows tests failed: %s\n' "${failed[@]}"
  exit 1
fi
echo "Windows tests passed"

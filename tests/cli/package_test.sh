#!/usr/bin/env bash
# Builds the .deb from a configured and built tree, checks what it declares and holds, unpacks it
# into a scratch root and converts a mailbox tree with the unpacked mbxvane-convert.
# Usage: package_test.sh BUILD_DIR SCRATCH_DIR MAILBOX_FOLDER
set -euo pipefail
build=$1 scratch=$2 mailboxes=$3
rm -rf "$scratch"
mkdir -p "$scratch"
fail() { echo "FAIL: $*" >&2; exit 1; }

(cd "$scratch" && cpack --config "$build/CPackConfig.cmake" -G DEB -B "$scratch/cpack" >cpack.log 2>&1) ||
  { cat "$scratch/cpack.log"; fail "cpack"; }
deb=$(ls "$scratch"/cpack/mbxvane_*.deb)

depends=$(dpkg-deb -f "$deb" Depends)
for lib in libqt6core6 libqt6widgets6 libgmime-3.0-0 qt6-qpa-plugins; do
  [[ "$depends" == *"$lib"* ]] || fail "Depends lacks $lib: $depends"
done
# The .msg files are built by our own compound-file writer: libgsf is no dependency any more.
[[ "$depends" != *libgsf* ]] || fail "Depends names libgsf: $depends"
contents=$(dpkg-deb -c "$deb")
for file in ./usr/bin/mbxvane ./usr/bin/mbxvane-convert ./usr/bin/mbxvane-file-reader \
    ./usr/share/applications/mbxvane.desktop \
    ./usr/share/icons/hicolor/48x48/apps/mbxvane.png \
    ./usr/share/icons/hicolor/scalable/apps/mbxvane.svg \
    ./usr/share/man/man1/mbxvane.1.gz ./usr/share/man/man1/mbxvane-convert.1.gz \
    ./usr/share/man/man1/mbxvane-file-reader.1.gz; do
  grep -q " $file\$" <<<"$contents" || fail "package lacks $file"
done

dpkg-deb -x "$deb" "$scratch/root"
convert=$scratch/root/usr/bin/mbxvane-convert
for program in "$scratch/root/usr/bin/mbxvane" "$convert"; do
  if ldd "$program" | grep -q libgsf; then fail "$(basename "$program") links libgsf"; fi
done
"$convert" --version | grep -q "^mbxvane-convert " || fail "--version"
set +e
"$convert" --format pst --out "$scratch/out" --report "$scratch/report.txt" "$mailboxes" \
  >"$scratch/stdout.txt" 2>&1
rc=$?
set -e
cat "$scratch/stdout.txt"
[ $rc -eq 0 ] || fail "exit code $rc"
grep -q "Failures (0)" "$scratch/report.txt" || fail "report: $(cat "$scratch/report.txt")"
count=$(find "$scratch/out" -maxdepth 1 -name '*.pst' | wc -l)
want=$(find "$mailboxes" -type f \( -iname '*.mbx' -o -iname '*.mbox' \) | wc -l)
[ "$count" -eq "$want" ] || fail "$count data files for $want mailboxes"
gzip -dc "$scratch/root/usr/share/man/man1/mbxvane-convert.1.gz" | grep -q '^\.SH EXIT STATUS' ||
  fail "man page"
echo "package test passed: $(basename "$deb")"

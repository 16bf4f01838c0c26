#!/usr/bin/env bash
# Cross-builds Mbxvane for 64-bit Windows on Debian 12, from Debian alone.
#
#   scripts/windows/build.sh [STEP...]     steps: toolchain sources libs qt gtest app zip
#                                          (all of them, in this order, when none is given)
#
# The libraries Mbxvane needs (libffi, pcre2, libintl, an iconv, GLib, GMime, Qt's Core, Gui and
# Widgets, GoogleTest) have no MinGW packages in Debian; they are built from Debian's own source
# packages, fetched through an apt source list of this script's own (the system's lists stay as
# they are). Each is built once into a cache outside the clone, in a folder named after the
# source versions and this recipe's revision, so a later run on the same machine reuses it:
#   ${MBX_WINDOWS_CACHE:-~/.cache/mbxvane-windows}
# The programs and tests go to build/windows/build, the zip to build/windows. Each step's time
# is appended to build/windows/timings.txt. Runs as root or through sudo (apt-get).
set -euo pipefail
here=$(cd "$(dirname "$0")/../.." && pwd)
cache=${MBX_WINDOWS_CACHE:-$HOME/.cache/mbxvane-windows}
jobs=${MBX_WINDOWS_JOBS:-$(nproc)}
out=$here/build/windows
triple=x86_64-w64-mingw32
sudo=""
if [ "$(id -u)" -ne 0 ]; then sudo="sudo"; fi
mkdir -p "$cache" "$out"

# Revisions of the recipes below: raising one rebuilds that part of the cache.
libs_recipe=2
qt_recipe=3
gtest_recipe=1

log() { printf '== %s\n' "$*" >&2; }
timed() { # timed NAME COMMAND...: runs a step and records its wall time
  local name=$1 start end
  shift
  start=$(date +%s)
  "$@"
  end=$(date +%s)
  printf '%s %ds\n' "$name" $((end - start)) | tee -a "$out/timings.txt" >&2
}

toolchain_packages=(
  g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix mingw-w64-tools libz-mingw-w64-dev
  wine64 wine
  # Building the libraries: autotools for GMime (its Debian tarball has no configure script),
  # meson for GLib, the host Qt's tools (moc, rcc, uic) for the cross-built Qt, dpkg-source.
  autoconf automake libtool gtk-doc-tools meson ninja-build cmake pkg-config dpkg-dev
  qt6-base-dev qt6-base-dev-tools libgtest-dev
  # xxHash's header, used alone (its functions inlined), serves both builds.
  libxxhash-dev
  zip ca-certificates
)
step_toolchain() {
  local missing=() p
  for p in "${toolchain_packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
  done
  if [ ${#missing[@]} -gt 0 ]; then
    log "installing ${missing[*]}"
    $sudo apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends \
      "${missing[@]}" >/dev/null
  fi
}

# --- Debian source packages through a list of our own ------------------------------------------
aptdir=$cache/apt
apt_own() {
  apt-get -o Dir::Etc::SourceList=/dev/null -o Dir::Etc::SourceParts="$aptdir/sources.list.d" \
    -o Dir::State::Lists="$aptdir/lists" -o Dir::Cache="$aptdir/cache" \
    -o APT::Sandbox::User=root "$@"
}
debian_mirror() {
  local uri=${MBX_DEBIAN_MIRROR:-}
  if [ -z "$uri" ] && [ -r /etc/apt/sources.list.d/debian.sources ]; then
    uri=$(awk '/^URIs:/ && $2 ~ /debian\/?$/ {print $2; exit}' /etc/apt/sources.list.d/debian.sources)
  fi
  if [ -z "$uri" ] && [ -r /etc/apt/sources.list ]; then
    uri=$(awk '$1 == "deb" && $0 ~ / bookworm / {for (i = 2; i <= NF; i++) if ($i ~ /^https?:/) {print $i; exit}}' /etc/apt/sources.list)
  fi
  echo "${uri:-http://deb.debian.org/debian}"
}
step_sources() {
  mkdir -p "$aptdir/sources.list.d" "$aptdir/lists/partial" "$aptdir/cache/archives/partial"
  cat >"$aptdir/sources.list.d/debian-src.sources" <<SRC
Types: deb-src
URIs: $(debian_mirror)
Suites: bookworm bookworm-updates
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg
SRC
  # The index is refreshed once a week; the versions it names key the cache.
  if [ -z "$(find "$aptdir/lists" -maxdepth 1 -name '*Sources*' -mtime -7 2>/dev/null)" ]; then
    log "updating the source index"
    apt_own update -qq
  fi
}
# source_version PACKAGE: the version apt would fetch
source_version() {
  apt_own source --print-uris "$1" 2>/dev/null |
    sed -n "s|.*/$1_\([^']*\)\.dsc'.*|\1|p" | sed 's/%2[bB]/+/g; s/%7[eE]/~/g' | head -1
}
# unpack PACKAGE DIR: fetches the source package (once) and unpacks it with Debian's patches
unpack() {
  local pkg=$1 dest=$2 ver dl=$cache/sources
  ver=$(source_version "$pkg")
  [ -n "$ver" ] || { echo "no source package $pkg" >&2; return 1; }
  mkdir -p "$dl"
  if [ ! -f "$dl/${pkg}_$ver.dsc" ]; then
    log "fetching $pkg $ver"
    (cd "$dl" && apt_own source --download-only -qq "$pkg" >/dev/null)
  fi
  rm -rf "$dest"
  dpkg-source --no-check -x "$dl/${pkg}_$ver.dsc" "$dest" >/dev/null
}
key_of() { # key_of PACKAGE...: name_version pairs, safe for a folder name
  local p out=""
  for p in "$@"; do out+="${p}_$(source_version "$p")-"; done
  out=${out%-}
  echo "${out//:/_}"
}

cc=$triple-gcc-posix
cxx=$triple-g++-posix
gcc_version() { $cc -dumpfullversion; }

# --- libffi, pcre2, iconv, libintl, GLib, GMime: static, into one prefix ----------------------
libs_prefix() { echo "$cache/libs-$(key_of libffi pcre2 glib2.0 gmime)-gcc$(gcc_version)-r$libs_recipe"; }

autotools_env() {
  export CC=$cc CXX=$cxx AR=$triple-ar RANLIB=$triple-ranlib
  export CPPFLAGS="-I$1/include" LDFLAGS="-L$1/lib"
  export PKG_CONFIG_LIBDIR="$1/lib/pkgconfig:/usr/$triple/lib/pkgconfig"
  export PKG_CONFIG_PATH=""
}
export WINEPREFIX=${WINEPREFIX:-$cache/wine}
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="

build_libffi() {
  local P=$1 src=$2/libffi
  unpack libffi "$src"
  (cd "$src" && autotools_env "$P" &&
    ./configure -q --host=$triple --prefix="$P" --disable-shared --enable-static --disable-docs \
      --disable-multi-os-directory >/dev/null &&
    make -j"$jobs" >/dev/null && make install >/dev/null)
}
build_pcre2() {
  local P=$1 src=$2/pcre2
  unpack pcre2 "$src"
  # Only the 8-bit library: the POSIX wrapper's test program does not link for Windows.
  (cd "$src" && autotools_env "$P" &&
    ./configure -q --host=$triple --prefix="$P" --disable-shared --enable-static \
      --enable-pcre2-8 --disable-pcre2-16 --disable-pcre2-32 >/dev/null &&
    make -j"$jobs" libpcre2-8.la >/dev/null &&
    install -D -m644 .libs/libpcre2-8.a "$P/lib/libpcre2-8.a" &&
    install -D -m644 src/pcre2.h "$P/include/pcre2.h" &&
    install -D -m644 libpcre2-8.pc "$P/lib/pkgconfig/libpcre2-8.pc")
}
build_iconv() {
  # GLib carries win_iconv (public domain), an iconv over Windows' own code pages.
  local P=$1 src=$2/glib2.0
  [ -d "$src" ] || unpack glib2.0 "$src"
  mkdir -p "$P/include" "$P/lib"
  cat >"$P/include/iconv.h" <<'H'
#ifndef ICONV_H
#define ICONV_H
#include <stddef.h>
#ifdef __cplusplus
extern "C" {
#endif
typedef void *iconv_t;
iconv_t iconv_open(const char *tocode, const char *fromcode);
int iconv_close(iconv_t cd);
size_t iconv(iconv_t cd, char **inbuf, size_t *inbytesleft, char **outbuf, size_t *outbytesleft);
#ifdef __cplusplus
}
#endif
#endif
H
  $cc -O2 -c "$src/glib/win_iconv.c" -o "$2/win_iconv.o"
  rm -f "$P/lib/libiconv.a"
  $triple-ar rcs "$P/lib/libiconv.a" "$2/win_iconv.o"
}
build_libintl() {
  # GLib looks its messages up through libintl; built without native language support, it only
  # needs the calls to exist. This stand-in returns every message as it is given (as libintl does
  # when no catalogue is installed), instead of building gettext (two minutes of configure).
  local P=$1
  mkdir -p "$P/include" "$P/lib"
  cat >"$P/include/libintl.h" <<'H'
#ifndef LIBINTL_H
#define LIBINTL_H
#include <locale.h>
#ifndef LC_MESSAGES
#define LC_MESSAGES 1729 /* the category GNU libintl adds where the C library has none */
#endif
#ifdef __cplusplus
extern "C" {
#endif
/* Each returns one of its message arguments, so a literal passed there is still checked as a
   printf format where the result is used as one. */
#define MBX_INTL_FORMAT(n) __attribute__((__format_arg__(n)))
char *gettext(const char *msgid) MBX_INTL_FORMAT(1);
char *dgettext(const char *domain, const char *msgid) MBX_INTL_FORMAT(2);
char *dcgettext(const char *domain, const char *msgid, int category) MBX_INTL_FORMAT(2);
char *ngettext(const char *msgid, const char *plural, unsigned long n)
    MBX_INTL_FORMAT(1) MBX_INTL_FORMAT(2);
char *dngettext(const char *domain, const char *msgid, const char *plural, unsigned long n)
    MBX_INTL_FORMAT(2) MBX_INTL_FORMAT(3);
char *dcngettext(const char *domain, const char *msgid, const char *plural, unsigned long n,
                 int category) MBX_INTL_FORMAT(2) MBX_INTL_FORMAT(3);
char *textdomain(const char *domain);
char *bindtextdomain(const char *domain, const char *dirname);
char *bind_textdomain_codeset(const char *domain, const char *codeset);
#ifdef __cplusplus
}
#endif
#endif
H
  cat >"$2/intl.c" <<'C'
#include <libintl.h>
char *gettext(const char *msgid) { return (char *)msgid; }
char *dgettext(const char *domain, const char *msgid) { (void)domain; return (char *)msgid; }
char *dcgettext(const char *domain, const char *msgid, int category) {
  (void)domain; (void)category; return (char *)msgid;
}
char *ngettext(const char *msgid, const char *plural, unsigned long n) {
  return (char *)(n == 1 ? msgid : plural);
}
char *dngettext(const char *domain, const char *msgid, const char *plural, unsigned long n) {
  (void)domain; return ngettext(msgid, plural, n);
}
char *dcngettext(const char *domain, const char *msgid, const char *plural, unsigned long n,
                 int category) {
  (void)domain; (void)category; return ngettext(msgid, plural, n);
}
char *textdomain(const char *domain) { return (char *)(domain ? domain : "messages"); }
char *bindtextdomain(const char *domain, const char *dirname) { (void)domain; return (char *)dirname; }
char *bind_textdomain_codeset(const char *domain, const char *codeset) {
  (void)domain; return (char *)codeset;
}
C
  $cc -O2 -I"$P/include" -c "$2/intl.c" -o "$2/intl.o"
  rm -f "$P/lib/libintl.a"
  $triple-ar rcs "$P/lib/libintl.a" "$2/intl.o"
}
build_glib() {
  local P=$1 src=$2/glib2.0
  [ -d "$src" ] || unpack glib2.0 "$src"
  cat >"$2/cross.txt" <<X
[binaries]
c = '$cc'
cpp = '$cxx'
ar = '$triple-ar'
strip = '$triple-strip'
windres = '$triple-windres'
pkgconfig = 'pkg-config'

[properties]
pkg_config_libdir = ['$P/lib/pkgconfig', '/usr/$triple/lib/pkgconfig']
# What GLib's setup would learn by running test programs (under Wine: three minutes of the
# setup); these are MinGW-w64's answers as Wine gave them, except /proc/self/cmdline, which
# Wine lends from Linux and Windows does not have. gnulib's printf checks take their own answers
# for a system they cannot run.
have_c99_vsnprintf = true
have_c99_snprintf = true
have_unix98_printf = false
va_val_copy = true
growing_stack = false
have_strlcpy = false
have_proc_self_cmdline = false

[built-in options]
c_args = ['-I$P/include']
cpp_args = ['-I$P/include']
c_link_args = ['-L$P/lib']
cpp_link_args = ['-L$P/lib']

[host_machine]
system = 'windows'
cpu_family = 'x86_64'
cpu = 'x86_64'
endian = 'little'
X
  (cd "$src" && export PKG_CONFIG_LIBDIR="$P/lib/pkgconfig:/usr/$triple/lib/pkgconfig" &&
    timed glib-setup meson setup _build --cross-file "$2/cross.txt" --prefix="$P" --libdir=lib \
      --buildtype=release --default-library=static -Dwrap_mode=nodownload -Dtests=false \
      -Dnls=disabled -Dlibelf=disabled -Dselinux=disabled -Dxattr=false -Dlibmount=disabled \
      >"$2/glib-setup.log" &&
    timed glib-build ninja -C _build -j"$jobs" >"$2/glib-build.log" && meson install -C _build >/dev/null)
}
build_gmime() {
  local P=$1 src=$2/gmime
  unpack gmime "$src"
  (cd "$src" && autotools_env "$P" &&
    touch ChangeLog && gtkdocize --copy >/dev/null && autoreconf -fi >/dev/null 2>&1 &&
    # configure cannot run its iconv probe for another system: the probe runs under Wine.
    $cc -O2 -I"$P/include" iconv-detect.c -o iconv-detect.exe -L"$P/lib" -liconv &&
    wine ./iconv-detect.exe >/dev/null && test -s iconv-detect.h &&
    # GLib is static: its helper programs link with everything GLib uses.
    PKG_CONFIG="pkg-config --static" ./configure -q --host=$triple --prefix="$P" \
      --disable-shared --enable-static ac_cv_have_iconv_detect_h=yes --disable-crypto --without-libidn \
      --disable-introspection --disable-vala --disable-glibtest >/dev/null &&
    make -C util -j"$jobs" >/dev/null && make -C gmime -j"$jobs" >/dev/null &&
    make -C gmime install >/dev/null && make install-pkgconfigDATA >/dev/null &&
    # The static GLib carries win_iconv itself (gconvert.c): programs take iconv from there,
    # a second copy from libiconv.a would clash.
    sed -i 's/ -liconv//' "$P/lib/pkgconfig/gmime-3.0.pc")
}
step_libs() {
  local P work
  P=$(libs_prefix)
  if [ -f "$P/.done" ]; then log "libraries cached in $P"; return; fi
  work=$cache/work-libs
  mkdir -p "$work" "$P"
  # A library once built stays (an interrupted run goes on with the next one).
  local lib
  for lib in libffi pcre2 iconv libintl glib gmime; do
    [ -f "$P/.built-$lib" ] && continue
    timed "$lib" "build_$lib" "$P" "$work"
    touch "$P/.built-$lib"
  done
  touch "$P/.done"
  rm -rf "$work"
}

# --- Qt 6: Core, Gui, Widgets (and Test for the window's tests), shared -------------------------
qt_prefix() { echo "$cache/qt-$(key_of qt6-base)-gcc$(gcc_version)-r$qt_recipe"; }
step_qt() {
  local P work
  P=$(qt_prefix)
  if [ -f "$P/.done" ]; then log "Qt cached in $P"; return; fi
  work=$cache/work-qt
  # An interrupted build of the same Qt goes on where it stopped.
  if [ -f "$work/build/build.ninja" ] && [ "$(cat "$work/key" 2>/dev/null)" = "$P" ]; then
    log "resuming the Qt build in $work"
    timed qt-build nice -n 10 cmake --build "$work/build" -j"$jobs" >"$work/build.log"
    cmake --install "$work/build" >/dev/null
    touch "$P/.done"
    rm -rf "$work"
    return
  fi
  rm -rf "$work" "$P"
  mkdir -p "$work" "$P"
  echo "$P" >"$work/key"
  unpack qt6-base "$work/src"
  # Qt's installed wrapper (qt-cmake) loads this toolchain file by its path, so it stays here.
  cp "$here/cmake/mingw-w64-x86_64.cmake" "$P/mingw-w64-x86_64.cmake"
  # Debian's tarball drops the Wacom tablet header (no tablet events), and the Windows platform
  # plugin of this Qt does not compile without desktop OpenGL. Gui builds its DirectWrite font
  # database only with Direct2D, while the plugin refers to it whenever DirectWrite 3 is on: with
  # Direct2D left out (the plugin draws through GDI) DirectWrite 3 goes too, and fonts come from
  # GDI. FreeType (bundled) stays for the offscreen platform the window's tests run on. Mbxvane
  # needs none of the other modules (SQL, network, D-Bus, printing, XML, concurrency), nor JPEG
  # or Vulkan.
  cmake -S "$work/src" -B "$work/build" -G Ninja \
    -DCMAKE_TOOLCHAIN_FILE="$P/mingw-w64-x86_64.cmake" \
    -DQT_HOST_PATH=/usr -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake \
    -DCMAKE_INSTALL_PREFIX="$P" -DCMAKE_BUILD_TYPE=Release -DBUILD_SHARED_LIBS=ON \
    -DQT_BUILD_EXAMPLES=OFF -DQT_BUILD_TESTS=OFF -DQT_BUILD_BENCHMARKS=OFF \
    -DFEATURE_sql=OFF -DFEATURE_network=OFF -DFEATURE_dbus=OFF -DFEATURE_printsupport=OFF \
    -DFEATURE_concurrent=OFF -DFEATURE_xml=OFF -DFEATURE_testlib=ON \
    -DFEATURE_tabletevent=OFF -DFEATURE_opengl_desktop=ON \
    -DFEATURE_direct2d=OFF -DFEATURE_directwrite3=OFF -DFEATURE_jpeg=OFF -DFEATURE_vulkan=OFF \
    -DFEATURE_system_zlib=OFF -DFEATURE_system_pcre2=OFF -DFEATURE_system_harfbuzz=OFF \
    -DFEATURE_system_freetype=OFF -DFEATURE_system_png=OFF \
    -DINPUT_openssl=no >"$work/configure.log"
  timed qt-build nice -n 10 cmake --build "$work/build" -j"$jobs" >"$work/build.log"
  cmake --install "$work/build" >/dev/null
  touch "$P/.done"
  rm -rf "$work"
}

# --- GoogleTest from Debian's libgtest-dev sources ------------------------------------------------
gtest_prefix() {
  local v
  v=$(dpkg-query -W -f='${Version}' libgtest-dev)
  echo "$cache/googletest_${v//:/_}-gcc$(gcc_version)-r$gtest_recipe"
}
step_gtest() {
  local P
  P=$(gtest_prefix)
  if [ -f "$P/.done" ]; then log "GoogleTest cached in $P"; return; fi
  rm -rf "$P" "$cache/work-gtest"
  cmake -S /usr/src/googletest -B "$cache/work-gtest" -G Ninja \
    -DCMAKE_TOOLCHAIN_FILE="$here/cmake/mingw-w64-x86_64.cmake" -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_INSTALL_PREFIX="$P" -DBUILD_GMOCK=OFF -Dgtest_force_shared_crt=ON >/dev/null
  cmake --build "$cache/work-gtest" -j"$jobs" >/dev/null
  cmake --install "$cache/work-gtest" >/dev/null
  touch "$P/.done"
  rm -rf "$cache/work-gtest"
}

# --- Mbxvane -----------------------------------------------------------------------------------
step_app() {
  local libs qt gtest
  libs=$(libs_prefix) qt=$(qt_prefix) gtest=$(gtest_prefix)
  export MBX_WINDOWS_PREFIXES="$libs:$qt:$gtest"
  # CMake keeps the libraries it found in its cache: other libraries (another cache, a new
  # recipe) need a build folder of their own.
  if [ "$(cat "$out/build/.prefixes" 2>/dev/null)" != "$MBX_WINDOWS_PREFIXES" ]; then
    rm -rf "$out/build"
  fi
  mkdir -p "$out/build"
  echo "$MBX_WINDOWS_PREFIXES" >"$out/build/.prefixes"
  export PKG_CONFIG_LIBDIR="$libs/lib/pkgconfig:/usr/$triple/lib/pkgconfig" PKG_CONFIG_PATH=""
  # xxHash's header alone, in a folder of its own (the host's include folder is not for MinGW).
  mkdir -p "$out/xxhash"
  cp /usr/include/xxhash.h "$out/xxhash/"
  "$qt/bin/qt-cmake" -S "$here" -B "$out/build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DQT_CHAINLOAD_TOOLCHAIN_FILE="$here/cmake/mingw-w64-x86_64.cmake" \
    -DMBX_WINDOWS_PREFIXES="$MBX_WINDOWS_PREFIXES" -DCMAKE_PREFIX_PATH="$gtest;$libs" \
    -DMBX_XXHASH_INCLUDE_DIR="$out/xxhash" -DMBX_WERROR=ON -DPKG_CONFIG_ARGN=--static \
    >"$out/configure.log"
  nice -n 10 cmake --build "$out/build" -j"$jobs"
  # What scripts/windows/test.sh needs to run the tests under Wine.
  cat >"$out/env.sh" <<ENV
MBX_WINDOWS_QT=$qt
MBX_WINDOWS_PREFIXES=$MBX_WINDOWS_PREFIXES
MBX_WINDOWS_RUNTIME="$(mingw_runtime_dlls)"
WINEPREFIX=$WINEPREFIX
ENV
}

# --- The zip: both programs, the DLLs and Qt plugins they load, a short README ---------------------
mingw_runtime_dlls() {
  local gccdir
  gccdir=$(dirname "$($cxx -print-libgcc-file-name)")
  echo "$gccdir/libstdc++-6.dll" "$gccdir/libgcc_s_seh-1.dll" \
    "/usr/$triple/lib/libwinpthread-1.dll" "/usr/$triple/lib/zlib1.dll"
}
step_zip() {
  local qt version name stage
  qt=$(qt_prefix)
  version=$(sed -n 's/^project(Mbxvane VERSION \([0-9.]*\).*/\1/p' "$here/CMakeLists.txt")
  name=Mbxvane-$version-windows-x64
  stage=$out/$name
  rm -rf "$stage" "$out/$name.zip"
  mkdir -p "$stage/platforms" "$stage/styles" "$stage/imageformats"
  cp "$out/build/app/mbxvane.exe" "$out/build/cli/mbxvane-convert.exe" "$stage/"
  cp "$qt/bin/Qt6Core.dll" "$qt/bin/Qt6Gui.dll" "$qt/bin/Qt6Widgets.dll" "$stage/"
  cp "$qt/plugins/platforms/qwindows.dll" "$stage/platforms/"
  cp "$qt/plugins/styles/qwindowsvistastyle.dll" "$stage/styles/"
  cp "$qt/plugins/imageformats/qico.dll" "$stage/imageformats/"
  # shellcheck disable=SC2046
  cp $(mingw_runtime_dlls) "$stage/"
  find "$stage" \( -name '*.exe' -o -name '*.dll' \) -exec $triple-strip --strip-unneeded {} +
  sed "s/@VERSION@/$version/" "$here/scripts/windows/README-Windows.txt" |
    sed 's/$/\r/' >"$stage/README-Windows.txt"
  (cd "$out" && zip -qr9 "$name.zip" "$name")
  ls -l "$out/$name.zip" >&2
}

steps=("$@")
[ ${#steps[@]} -gt 0 ] || steps=(toolchain sources libs qt gtest app zip)
for s in "${steps[@]}"; do
  case $s in
    toolchain|sources|libs|qt|gtest|app|zip) timed "$s" "step_$s" ;;
    *) echo "unknown step $s (toolchain sources libs qt gtest app zip)" >&2; exit 2 ;;
  esac
done

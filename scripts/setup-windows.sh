#!/usr/bin/env bash
# Prepares the Windows cross build in the build folder (default build-win, or build-win32
# for ZX_WIN_ARCH=i686): unpacks Qt 5 Core for mingw, gathers the {fmt} and ConcurrentQueue
# headers (and cpp-httplib's, from its Debian source package) into an include folder of their own, builds GoogleTest for mingw from Debian's
# sources and creates the wine prefix. Everything lands in the build folder; nothing of it
# is committed.
#   [ZX_WIN_ARCH=x86_64|i686] scripts/setup-windows.sh [BUILD_DIR]
# Qt 5 Core comes from the first of: qt5core-mingw64.tar.xz (or -mingw32) in
# ZX_TOOLCHAINS_DIR or else ../shared/toolchains beside the clone; the same archive in the
# cache folder (ZX_CACHE_DIR, default ~/.cache/zxcollector); or it is built from Debian's
# source package into that cache by scripts/build-qt5core-mingw.sh (about 13 minutes once).
set -euo pipefail

repo=$(cd "$(dirname "$0")/.." && pwd)
. "$repo/scripts/windows-arch.sh"
toolchains=${ZX_TOOLCHAINS_DIR:-$(dirname "$repo")/shared/toolchains}
cache=${ZX_CACHE_DIR:-${XDG_CACHE_HOME:-$HOME/.cache}/zxcollector}
qt=qt5core-mingw$bits
third=$build/third_party
mkdir -p "$third"

# Qt 5 Core for the target; unpacked again only when the archive changes.
archive=$toolchains/$qt.tar.xz
if [ ! -f "$archive" ]; then
  archive=$cache/$qt.tar.xz
  if [ ! -f "$archive" ] && [ -f "$third/$qt/.zx-stamp" ]; then
    archive=$(cut -d ' ' -f 1 "$third/$qt/.zx-stamp")
    echo "setup-windows: keeping the $qt unpacked from $archive (no longer there)"
  elif [ ! -f "$archive" ]; then
    echo "setup-windows: no $qt.tar.xz in $toolchains or $cache: building Qt 5 Core for $arch (about 13 minutes)"
    ARCH=$arch ZX_CACHE_DIR=$cache "$repo/scripts/build-qt5core-mingw.sh" "$archive"
  fi
fi
stamp="$archive $(stat -c '%s %Y' "$archive" 2>/dev/null)"
if [ ! -f "$third/$qt/.zx-stamp" ] || { [ -f "$archive" ] && [ "$(cat "$third/$qt/.zx-stamp")" != "$stamp" ]; }; then
  echo "setup-windows: unpacking $archive"
  rm -rf "${third:?}/$qt"
  tar -xJf "$archive" -C "$third"
  echo "$stamp" >"$third/$qt/.zx-stamp"
fi

# Only fmt/ and concurrentqueue/: the host's /usr/include must never be on the cross
# build's include path, or glibc headers would shadow the mingw ones.
rm -rf "$third/include"
mkdir -p "$third/include"
for dir in fmt concurrentqueue; do
  [ -d "/usr/include/$dir" ] || { echo "setup-windows: /usr/include/$dir missing (run scripts/setup.sh)" >&2; exit 1; }
  cp -r "/usr/include/$dir" "$third/include/$dir"
done

# cpp-httplib for zxcollect's live page. Debian's libcpp-httplib-dev holds only the
# declarations (the code is in its Linux shared library), so the cross build takes the
# whole header from Debian's source package of the same library, kept in the build folder.
httplib_src=$third/cpp-httplib
if [ ! -f "$httplib_src/httplib.h" ]; then
  echo "setup-windows: fetching Debian's cpp-httplib source package for its header"
  rm -rf "$httplib_src" && mkdir -p "$httplib_src"
  "$repo/scripts/debian-source-lines.sh"
  (cd "$httplib_src" && apt-get source --download-only -qq cpp-httplib >/dev/null 2>&1) || {
    echo "setup-windows: apt-get source cpp-httplib failed (are deb-src lines in the apt sources?)" >&2
    exit 1
  }
  tar -xJf "$httplib_src"/cpp-httplib_*.orig.tar.xz -C "$httplib_src" --wildcards --strip-components=1 '*/httplib.h'
fi
cp "$httplib_src/httplib.h" "$third/include/httplib.h"

# libmosquitto for zxcollect --mqtt, cross-built from Debian's source package (about a
# minute), kept in the build folder.
if [ ! -f "$third/mosquitto/lib/libmosquitto_static.a" ]; then
  echo "setup-windows: building libmosquitto for $arch"
  ZX_WIN_ARCH=$arch "$repo/scripts/build-mosquitto-mingw.sh" "$third/mosquitto"
fi

# GoogleTest for mingw, from the sources Debian ships with libgtest-dev.
gtest_src=/usr/src/googletest
if [ ! -f "$third/gtest/lib/cmake/GTest/GTestConfig.cmake" ]; then
  echo "setup-windows: building GoogleTest for mingw"
  rm -rf "$third/gtest-build"
  cmake -S "$gtest_src" -B "$third/gtest-build" -G Ninja \
    -DCMAKE_TOOLCHAIN_FILE="$repo/cmake/toolchain-mingw$bits.cmake" \
    -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$third/gtest" \
    -DBUILD_GMOCK=ON -Dgtest_disable_pthreads=OFF >/dev/null
  cmake --build "$third/gtest-build" -j2 >/dev/null
  cmake --install "$third/gtest-build" >/dev/null
  rm -rf "$third/gtest-build"
fi

# The wine prefix; its first start (wineboot) takes a while, so it happens here once. A
# prefix made before wine32 was installed has no 32-bit half (empty syswow64), and then
# plain wine fails for 64-bit programs too: such a prefix is made anew.
export WINEPREFIX=$build/wine WINEDEBUG=-all WINEARCH=win64
wine=$repo/scripts/wine-loader.sh
if [ -f "$WINEPREFIX/system.reg" ] && [ ! -f "$WINEPREFIX/drive_c/windows/syswow64/kernel32.dll" ] &&
  "$wine" --can-run-32; then
  echo "setup-windows: the wine prefix $WINEPREFIX lacks its 32-bit half; making it anew"
  wineserver -k 2>/dev/null || true
  rm -rf "$WINEPREFIX"
fi
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  echo "setup-windows: creating the wine prefix $WINEPREFIX"
  mkdir -p "$WINEPREFIX"
  DISPLAY= "$wine" wineboot --init >/dev/null 2>&1 || true
  wineserver -w
  [ -f "$WINEPREFIX/system.reg" ] || { echo "setup-windows: wineboot failed" >&2; exit 1; }
fi
# A program that crashes ends with its exception code, as on a Windows without a
# debugger, instead of starting winedbg (wine starts it when the entry is missing, so
# the entry names a command that ends at once): the crash-filter tests crash on purpose.
if ! grep -q '^"Debugger"="cmd /c exit"' "$WINEPREFIX/system.reg"; then
  for view in 64 32; do
    "$wine" reg add 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\AeDebug' \
      /v Debugger /d 'cmd /c exit' /f /reg:$view >/dev/null 2>&1 || true
  done
  wineserver -w
fi
echo "setup-windows: ready in $build"

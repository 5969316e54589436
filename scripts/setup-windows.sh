#!/usr/bin/env bash
# Prepares the Windows cross build in the build folder (default build-win): unpacks Qt 5 Core
# for mingw from the shared toolchains, gathers the {fmt} and ConcurrentQueue headers into an
# include folder of their own, builds GoogleTest for mingw from Debian's sources and creates
# the wine prefix. Everything lands in the build folder; nothing of it is committed.
#   scripts/setup-windows.sh [BUILD_DIR]
set -euo pipefail

repo=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$repo/build-win}
toolchains=${ZX_TOOLCHAINS_DIR:-$(dirname "$repo")/shared/toolchains}
third=$build/third_party
mkdir -p "$third"
build=$(cd "$build" && pwd)
third=$build/third_party

# Qt 5 Core for x86_64-w64-mingw32; unpacked again only when the archive changes.
archive=$toolchains/qt5core-mingw64.tar.xz
[ -f "$archive" ] || { echo "setup-windows: $archive not found" >&2; exit 1; }
stamp=$(stat -c '%s %Y' "$archive")
if [ ! -f "$third/qt5core-mingw64/.zx-stamp" ] || [ "$(cat "$third/qt5core-mingw64/.zx-stamp")" != "$stamp" ]; then
  echo "setup-windows: unpacking $(basename "$archive")"
  rm -rf "$third/qt5core-mingw64"
  tar -xJf "$archive" -C "$third"
  echo "$stamp" >"$third/qt5core-mingw64/.zx-stamp"
fi

# Only fmt/ and concurrentqueue/: the host's /usr/include must never be on the cross
# build's include path, or glibc headers would shadow the mingw ones.
rm -rf "$third/include"
mkdir -p "$third/include"
for dir in fmt concurrentqueue; do
  [ -d "/usr/include/$dir" ] || { echo "setup-windows: /usr/include/$dir missing (run scripts/setup.sh)" >&2; exit 1; }
  cp -r "/usr/include/$dir" "$third/include/$dir"
done

# GoogleTest for mingw, from the sources Debian ships with libgtest-dev.
gtest_src=/usr/src/googletest
if [ ! -f "$third/gtest/lib/cmake/GTest/GTestConfig.cmake" ]; then
  echo "setup-windows: building GoogleTest for mingw"
  rm -rf "$third/gtest-build"
  cmake -S "$gtest_src" -B "$third/gtest-build" -G Ninja \
    -DCMAKE_TOOLCHAIN_FILE="$repo/cmake/toolchain-mingw64.cmake" \
    -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$third/gtest" \
    -DBUILD_GMOCK=ON -Dgtest_disable_pthreads=OFF >/dev/null
  cmake --build "$third/gtest-build" -j2 >/dev/null
  cmake --install "$third/gtest-build" >/dev/null
  rm -rf "$third/gtest-build"
fi

# The wine prefix; its first start (wineboot) takes a while, so it happens here once.
export WINEPREFIX=$build/wine WINEDEBUG=-all WINEARCH=win64
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  echo "setup-windows: creating the wine prefix $WINEPREFIX"
  mkdir -p "$WINEPREFIX"
  DISPLAY= wine wineboot --init >/dev/null 2>&1 || true
  wineserver -w
  [ -f "$WINEPREFIX/system.reg" ] || { echo "setup-windows: wineboot failed" >&2; exit 1; }
fi
echo "setup-windows: ready in $build"

#!/usr/bin/env bash
# Cross-builds the library, the DLL, the tests and the host programs for 64-bit Windows
# (or 32-bit with ZX_WIN_ARCH=i686) with mingw-w64, and packs the zip a Windows user gets,
# zxcollector_api-<version>-win64.zip (-win32.zip), into the build folder
# (scripts/setup-windows.sh prepares the build folder first).
#   [ZX_WIN_ARCH=x86_64|i686] scripts/build-windows.sh [BUILD_DIR] [ninja targets...]
set -euo pipefail

repo=$(cd "$(dirname "$0")/.." && pwd)
. "$repo/scripts/windows-arch.sh"
shift || true
third=$build/third_party
qt=qt5core-mingw$bits

if [ ! -d "$third/$qt" ] || [ ! -d "$third/include/fmt" ] || [ ! -f "$third/include/httplib.h" ] ||
  [ ! -d "$third/gtest" ] || [ ! -f "$third/mosquitto/lib/libmosquitto_static.a" ] ||
  [ ! -f "$build/wine/system.reg" ]; then
  ZX_WIN_ARCH=$arch "$repo/scripts/setup-windows.sh" "$build"
fi

cmake -S "$repo" -B "$build" -G Ninja \
  -DCMAKE_TOOLCHAIN_FILE="$repo/cmake/toolchain-mingw$bits.cmake" \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_PREFIX_PATH="$third/$qt;$third/gtest" \
  -DZX_THIRD_PARTY_INCLUDE="$third/include" \
  -DZX_BUILD_BENCH=OFF >/dev/null
ninja -C "$build" -j"${ZX_JOBS:-2}" "$@"
if [ "$#" -eq 0 ]; then
  (cd "$build" && cpack -G ZIP -B "$build/package" >/dev/null && mv -f "$build"/package/*.zip "$build"/)
  ls "$build"/zxcollector_api-*-win$bits.zip
fi

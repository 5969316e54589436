#!/usr/bin/env bash
# Cross-builds the library, the DLL, the tests and the host programs for 64-bit Windows
# with mingw-w64 (scripts/setup-windows.sh prepares the build folder first).
#   scripts/build-windows.sh [BUILD_DIR] [ninja targets...]
set -euo pipefail

repo=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$repo/build-win}
shift || true
third=$build/third_party

if [ ! -d "$third/qt5core-mingw64" ] || [ ! -d "$third/include/fmt" ] || [ ! -d "$third/gtest" ]; then
  "$repo/scripts/setup-windows.sh" "$build"
fi

cmake -S "$repo" -B "$build" -G Ninja \
  -DCMAKE_TOOLCHAIN_FILE="$repo/cmake/toolchain-mingw64.cmake" \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_PREFIX_PATH="$third/qt5core-mingw64;$third/gtest" \
  -DZX_THIRD_PARTY_INCLUDE="$third/include" \
  -DZX_BUILD_BENCH=OFF >/dev/null
ninja -C "$build" -j"${ZX_JOBS:-2}" "$@"

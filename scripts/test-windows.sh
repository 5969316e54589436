#!/usr/bin/env bash
# Runs the Windows build's tests under wine inside a private network namespace
# (scripts/build-windows.sh builds them first). The wine prefix lives in the build folder.
#   [ZX_WIN_ARCH=x86_64|i686] scripts/test-windows.sh [BUILD_DIR] [ctest arguments...]
set -euo pipefail

repo=$(cd "$(dirname "$0")/.." && pwd)
. "$repo/scripts/windows-arch.sh"
shift || true

export WINEPREFIX=$build/wine WINEDEBUG=-all WINEARCH=win64
ZX_WIN_ARCH=$arch "$repo/scripts/setup-windows.sh" "$build" >/dev/null
# Every `wine` the tests call starts a loader this machine can run.
mkdir -p "$build/wine-bin"
ln -sf "$repo/scripts/wine-loader.sh" "$build/wine-bin/wine"
export PATH=$build/wine-bin:$PATH

# A kernel without 32-bit support starts no 32-bit program, wine32 included: there the
# 32-bit build is checked only by what runs nothing under wine.
if [ "$bits" = 32 ] && ! "$repo/scripts/wine-loader.sh" --can-run-32; then
  echo "test-windows: this machine runs no 32-bit programs; 32-bit hosts are not run, only the export table, the import library, the zip and the loader choice"
  set -- -R '^(windows_exports|windows_import_library|windows_loader|package_zip)$' "$@"
fi

# Qt5Core.dll and the mingw runtime DLLs (libstdc++, libgcc_s, libwinpthread).
# The built DLL itself too: test programs that call the exports link it.
runtime_dirs=(
  "$build/api"
  "$build/third_party/qt5core-mingw$bits/bin"
  /usr/lib/gcc/$arch-w64-mingw32/12-posix
  /usr/$arch-w64-mingw32/lib
)
winepath=
for dir in "${runtime_dirs[@]}"; do
  winepath+="Z:${dir//\//\\};"
done
export WINEPATH=$winepath

# The adapter list that the network guard reads comes from wine's device service, which
# starts with the prefix's wineserver: a server left running outside the namespace would
# show the machine's adapters, so this prefix's server is ended first and inside.
wineserver -k 2>/dev/null || true
exec "$repo/scripts/netns-run.sh" bash -c '
  # Wine now and then ends a test program without a report (seen once in the crash
  # filter cases of test_common); a failing program gets one more run, and its first
  # failure stays in the output above.
  ctest --test-dir "$0" --output-on-failure --timeout 900 --repeat until-pass:2 "$@"
  status=$?
  wineserver -k 2>/dev/null || true
  exit $status' "$build" "$@"

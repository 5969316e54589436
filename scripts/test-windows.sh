#!/usr/bin/env bash
# Runs the Windows build's tests under wine inside a private network namespace
# (scripts/build-windows.sh builds them first). The wine prefix lives in the build folder.
#   scripts/test-windows.sh [BUILD_DIR] [ctest arguments...]
set -euo pipefail

repo=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$repo/build-win}
shift || true
build=$(cd "$build" && pwd)

export WINEPREFIX=$build/wine WINEDEBUG=-all WINEARCH=win64
[ -f "$WINEPREFIX/system.reg" ] || "$repo/scripts/setup-windows.sh" "$build"

# Qt5Core.dll and the mingw runtime DLLs (libstdc++, libgcc_s_seh, libwinpthread).
runtime_dirs=(
  "$build/third_party/qt5core-mingw64/bin"
  /usr/lib/gcc/x86_64-w64-mingw32/12-posix
  /usr/x86_64-w64-mingw32/lib
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
  ctest --test-dir "$0" --output-on-failure --timeout 900 "$@"
  status=$?
  wineserver -k 2>/dev/null || true
  exit $status' "$build" "$@"

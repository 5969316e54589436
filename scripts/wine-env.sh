# shellcheck shell=bash
# Sourced inside scripts/netns-run.sh by the checks that run a Windows program of a build
# under wine (64-bit, or 32-bit with ZX_WIN_ARCH=i686): the build's wine prefix, the
# folders of the DLLs it loads (the built library, QtCore, the GCC runtime) on WINEPATH,
# and a fresh prefix server, which must start inside the namespace (it lists the adapters).
#   . scripts/wine-env.sh <BUILD_WIN_DIR>
export WINEPREFIX=$1/wine WINEDEBUG=-all
. "$(dirname "${BASH_SOURCE[0]}")/windows-arch.sh" # arch and bits from ZX_WIN_ARCH
WINEPATH=
for dir in "$1/third_party/qt5core-mingw$bits/bin" /usr/lib/gcc/$arch-w64-mingw32/12-posix \
  /usr/$arch-w64-mingw32/lib "$1/api"; do
  WINEPATH+="Z:${dir//\//\\};"
done
export WINEPATH
wineserver -k 2>/dev/null || true

#!/usr/bin/env bash
# Builds Qt 5 Core (QtCore only: no gui, network, sql, xml) for 64-bit (ARCH=x86_64, the
# default) or 32-bit Windows (ARCH=i686) with Debian's mingw-w64 from Debian's own
# qtbase-opensource-src source package, and packs it as qt5core-mingw64.tar.xz or
# qt5core-mingw32.tar.xz in the cache folder (ZX_CACHE_DIR, default ~/.cache/zxcollector).
# The archive unpacks to qt5core-mingw64/ (or -mingw32/) holding bin/Qt5Core.dll, its import
# library, headers, the CMake package files and the Linux host tools moc and rcc; the CMake
# files relocate, so it can be unpacked anywhere. Takes about 13 minutes on 2 cores.
#   [ARCH=i686] scripts/build-qt5core-mingw.sh [OUTPUT_ARCHIVE]
# Needs root (or sudo) only to add the source lines and install the build packages.
set -euo pipefail

arch=${ARCH:-x86_64}
case $arch in
  x86_64) bits=64 compiler=g++-mingw-w64-x86-64-posix ;;
  i686) bits=32 compiler=g++-mingw-w64-i686-posix ;;
  *) echo "build-qt5core-mingw: ARCH must be x86_64 or i686" >&2; exit 2 ;;
esac
name=qt5core-mingw$bits
cache=${ZX_CACHE_DIR:-${XDG_CACHE_HOME:-$HOME/.cache}/zxcollector}
out=${1:-$cache/$name.tar.xz}
work=$cache/$name-build
mkdir -p "$work" "$(dirname "$out")"
out=$(cd "$(dirname "$out")" && pwd)/$(basename "$out")

# One build per work folder at a time; whoever waited finds the archive made.
asked=$(date +%s)
exec 9>"$work.lock"
flock 9
if [ -f "$out" ] && [ "$(stat -c %Y "$out")" -ge "$asked" ]; then
  echo "build-qt5core-mingw: $out was just made"
  exit 0
fi

as_root=()
[ "$(id -u)" -ne 0 ] && as_root=(sudo)

"$(dirname "$0")/debian-source-lines.sh"
needed=()
for p in $compiler dpkg-dev perl python3 make xz-utils; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || needed+=("$p")
done
if [ "${#needed[@]}" -gt 0 ]; then
  "${as_root[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${needed[@]}" >/dev/null
fi

cd "$work"
rm -rf src build install stage
if ! ls qtbase-opensource-src_*.dsc >/dev/null 2>&1; then
  apt-get source --download-only qtbase-opensource-src >/dev/null
fi
dpkg-source -x qtbase-opensource-src_*.dsc src >/dev/null
mkdir build install
cd build
echo "build-qt5core-mingw: configuring Qt for $arch-w64-mingw32 in $work"
../src/configure -opensource -confirm-license -release -shared \
  -xplatform win32-g++ -device-option CROSS_COMPILE=$arch-w64-mingw32- \
  -prefix "$work/install" -nomake examples -nomake tests -no-compile-examples \
  -no-gui -no-widgets -no-dbus -no-opengl -no-icu -no-openssl -no-zstd -no-glib \
  -no-feature-network -no-feature-sql -no-feature-xml -no-feature-testlib -no-feature-concurrent \
  -qt-pcre -qt-zlib -no-pch >"$work/configure.log" 2>&1 || { tail -n 30 "$work/configure.log" >&2; exit 1; }
echo "build-qt5core-mingw: compiling (log: $work/make.log)"
make -j"$(nproc)" >"$work/make.log" 2>&1 || { tail -n 30 "$work/make.log" >&2; exit 1; }
make install >>"$work/make.log" 2>&1

# Pack QtCore, its import library, headers, CMake files, the mkspecs those need and the host tools.
cd "$work"
inst=$work/install stage=$work/stage/$name
mkdir -p "$stage/bin" "$stage/lib" "$stage/mkspecs"
cp -a "$inst/include" "$stage/"
cp -a "$inst"/bin/{Qt5Core.dll,moc,rcc,qmake} "$stage/bin/"
strip "$stage"/bin/{qmake,moc,rcc}
cp -a "$inst"/lib/{libQt5Core.a,Qt5Core.prl,libqtmain.a,qtmain.prl,cmake,pkgconfig,metatypes} "$stage/lib/"
cp -a "$inst"/mkspecs/{features,common,modules,win32-g++,linux-g++} "$inst"/mkspecs/*.pri "$stage/mkspecs/"
cat >"$stage/README" <<TXT
Qt $(sed -n 's/^Version: //p' "$work"/qtbase-opensource-src_*.dsc) (QtCore only) cross-built for $arch-w64-mingw32
with Debian's $compiler, from Debian's qtbase-opensource-src source package.
License: LGPL-3 / GPL-2, as the source package says. Host tools (moc, rcc, qmake) are Linux x86-64 programs.
Qt5Core.dll needs libstdc++-6.dll, libgcc_s_*.dll and libwinpthread-1.dll from Debian's mingw-w64 packages.
TXT
(cd "$work/stage" && tar -cJf "$out.part" --owner=0 --group=0 "$name")
mv "$out.part" "$out"
rm -rf "$work/src" "$work/build" "$work/install" "$work/stage"
echo "build-qt5core-mingw: wrote $out"

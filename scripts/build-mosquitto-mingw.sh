#!/usr/bin/env bash
# Cross-builds libmosquitto (the MQTT client library of zxcollect --mqtt) for Windows from
# Debian's source package: static, without TLS (no OpenSSL for mingw here), with threads from
# mingw's winpthreads. Installs the header and library into PREFIX; the source package and
# the build stay in PREFIX's parent's mosquitto-build folder.
#   ZX_WIN_ARCH=x86_64|i686 scripts/build-mosquitto-mingw.sh PREFIX
set -euo pipefail
repo=$(cd "$(dirname "$0")/.." && pwd)
prefix=$1
arch=${ZX_WIN_ARCH:-x86_64}
bits=64
[ "$arch" = i686 ] && bits=32
work=$(dirname "$prefix")/mosquitto-build
rm -rf "$work" && mkdir -p "$work"
"$repo/scripts/debian-source-lines.sh"
(cd "$work" && apt-get source --download-only -qq mosquitto >/dev/null 2>&1) || {
  echo "build-mosquitto-mingw: apt-get source mosquitto failed (are deb-src lines in the apt sources?)" >&2
  exit 1
}
tar -xzf "$work"/mosquitto_*.orig.tar.gz -C "$work"
src=$(find "$work" -mindepth 1 -maxdepth 1 -type d -name 'mosquitto-*' | head -n 1)
# Its build names MSVC's pthreads-win32 on every Windows build; mingw has pthread itself.
sed -i 's/C:\\\\pthreads\\\\Pre-built\.2\\\\lib\\\\x[0-9]*\\\\pthreadVC2\.lib/pthread/; s/C:\\\\pthreads\\\\Pre-built\.2\\\\include/""/' \
  "$src/CMakeLists.txt"
cmake -S "$src" -B "$work/build" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$repo/cmake/toolchain-mingw$bits.cmake" \
  -DCMAKE_BUILD_TYPE=Release -DWITH_TLS=OFF -DWITH_CJSON=OFF -DWITH_BROKER=OFF -DWITH_APPS=OFF \
  -DWITH_CLIENTS=OFF -DWITH_PLUGINS=OFF -DDOCUMENTATION=OFF -DWITH_LIB_CPP=OFF -DWITH_SOCKS=OFF \
  -DWITH_STATIC_LIBRARIES=ON >/dev/null
cmake --build "$work/build" -j2 --target libmosquitto_static >/dev/null
rm -rf "$prefix" && mkdir -p "$prefix/include" "$prefix/lib"
cp "$src/include/mosquitto.h" "$src/include/mqtt_protocol.h" "$prefix/include/"
cp "$work/build/lib/libmosquitto_static.a" "$prefix/lib/"
rm -rf "$work"
echo "build-mosquitto-mingw: libmosquitto for $arch in $prefix"

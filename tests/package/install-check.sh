#!/usr/bin/env bash
# What a user of the Linux build gets: `cmake --install` into an empty prefix, then a
# project outside the tree built against it once with find_package and once with
# pkg-config, both run against the box simulator; then the .deb that CPack makes,
# installed and removed again with dpkg where this user may (skipped otherwise).
#   install-check.sh <build folder> <source folder>
set -euo pipefail
build=$1 source=$2
work=$(mktemp -d)
package=zxcollector-api
deb_installed=0
. "$(dirname "$0")/sim.sh"
cleanup() {
  stop_simulator
  [ "$deb_installed" = 1 ] && dpkg -P "$package" >/dev/null 2>&1
  rm -rf "$work"
}
trap cleanup EXIT

prefix=$work/prefix
echo "== cmake --install into $prefix"
cmake --install "$build" --prefix "$prefix" >"$work/install.out"
(cd "$prefix" && find . -type f -o -type l | sort | sed 's/^/  /')
lib=$(find "$prefix" -name 'libzxcollector_api.so.*.*.*' | head -n 1)
[ -n "$lib" ] || { echo "FAIL: no versioned shared library installed"; exit 1; }
soname=$(objdump -p "$lib" | awk '$1 == "SONAME" {print $2}')
[ "$soname" = libzxcollector_api.so.3 ] || { echo "FAIL: SONAME is '$soname'"; exit 1; }
for f in include/zxcollector_api.h bin/zxcollect bin/vci-sim; do
  [ -e "$prefix/$f" ] || { echo "FAIL: $f not installed"; exit 1; }
done

echo "== consumer with find_package"
cmake -S "$source/tests/package/consumer" -B "$work/cmake-consumer" -DCMAKE_PREFIX_PATH="$prefix" \
  -DZX_HOST_SOURCE="$source/examples/c-host/c_host.c" >"$work/consumer-configure.out" ||
  { cat "$work/consumer-configure.out"; echo "FAIL: find_package(zxcollector)"; exit 1; }
cmake --build "$work/cmake-consumer" >"$work/consumer-build.out" ||
  { cat "$work/consumer-build.out"; echo "FAIL: consumer build"; exit 1; }

echo "== consumer with pkg-config"
pc_dir=$(dirname "$(find "$prefix" -name zxcollector_api.pc)")
flags=$(PKG_CONFIG_PATH=$pc_dir pkg-config --cflags --libs zxcollector_api)
echo "  pkg-config: $flags"
mkdir -p "$work/pc-consumer"
# shellcheck disable=SC2086
cc -std=c99 -Wall -o "$work/pc-consumer/c_host" "$source/examples/c-host/c_host.c" $flags

start_simulator "$prefix/bin/vci-sim" "$work"
for host in cmake-consumer pc-consumer; do
  # Only the installed library: the build tree's is not on any path the program sees.
  mkdir -p "$work/$host/save"
  LD_LIBRARY_PATH=$(dirname "$lib") "$work/$host/c_host" "$work/$host/log.txt" "$work/$host/save" 1 >"$work/$host.out" 2>&1 ||
    { cat "$work/$host.out"; echo "FAIL: $host"; exit 1; }
  used=$(LD_LIBRARY_PATH=$(dirname "$lib") ldd "$work/$host/c_host" | awk '/libzxcollector_api/ {print $3}')
  case $used in "$prefix"/*) ;; *) echo "FAIL: $host loads $used"; exit 1 ;; esac
  echo "  $host: $(cat "$work/$host.out"), $(find "$work/$host/save" -name '*.csv' | wc -l) CSV files"
  [ -n "$(find "$work/$host/save" -name '*.csv')" ] || { echo "FAIL: $host saved no CSV file"; exit 1; }
done
stop_simulator

echo "== Debian package"
(cd "$work" && cpack -G DEB --config "$build/CPackConfig.cmake" -B "$work/deb" >"$work/cpack.out") ||
  { cat "$work/cpack.out"; echo "FAIL: cpack"; exit 1; }
deb=$(find "$work/deb" -maxdepth 1 -name '*.deb' | head -n 1)
[ -n "$deb" ] || { echo "FAIL: no .deb written"; exit 1; }
dpkg-deb -I "$deb" | sed -n 's/^ \(Package\|Version\|Depends\):/  \1:/p'
dpkg-deb -c "$deb" | awk '{print "  " $NF}' | grep -E 'zxcollector|zxcollect$|vci-sim$'
if [ ! -w /var/lib/dpkg ]; then
  echo "dpkg install skipped: this user cannot write /var/lib/dpkg"
  echo "PASS"
  exit 0
fi
if dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'ok installed'; then
  echo "FAIL: $package is installed already; remove it first (dpkg -r $package)"
  exit 1
fi
dpkg -i "$deb" >"$work/dpkg.out" 2>&1 || { cat "$work/dpkg.out"; echo "FAIL: dpkg -i"; exit 1; }
deb_installed=1
files=$(dpkg -L "$package")
for f in /usr/bin/zxcollect /usr/bin/vci-sim /usr/include/zxcollector_api.h; do
  grep -qx "$f" <<<"$files" || { echo "FAIL: the package does not hold $f"; exit 1; }
done
/usr/bin/zxcollect --help >/dev/null ||
  { echo "FAIL: the installed zxcollect does not start"; exit 1; }
dpkg -P "$package" >"$work/dpkg.out" 2>&1 || { cat "$work/dpkg.out"; echo "FAIL: dpkg -P"; exit 1; }
deb_installed=0
left=$(while read -r f; do if [ -f "$f" ] || [ -L "$f" ]; then echo "$f"; fi; done <<<"$files")
[ -z "$left" ] || { echo "FAIL: left after removal: $left"; exit 1; }
echo "dpkg: installed $(grep -c . <<<"$files") paths and removed them cleanly"
echo "PASS"

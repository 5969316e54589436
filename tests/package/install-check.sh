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
. "$(dirname "$0")/../support/sim.sh"
cleanup() {
  stop_simulator
  [ "$deb_installed" = 1 ] && dpkg -P "$package" >/dev/null 2>&1
  rm -rf "$work"
}
trap cleanup EXIT

prefix=$work/prefix
echo "== cmake --install into $prefix"
quiet install cmake --install "$build" --prefix "$prefix"
lib=$(find "$prefix" -name 'libzxcollector_api.so.*.*.*' | head -n 1)
[ -n "$lib" ] || fail "no versioned shared library installed"
soname=$(objdump -p "$lib" | awk '$1 == "SONAME" {print $2}')
[ "$soname" = libzxcollector_api.so.3 ] || fail "SONAME is '$soname'"
for f in include/zxcollector_api.h bin/zxcollect bin/vci-sim; do
  [ -e "$prefix/$f" ] || fail "$f not installed"
done

echo "== consumer with find_package"
quiet find_package cmake -S "$source/tests/package/consumer" -B "$work/cmake-consumer" \
  -DCMAKE_PREFIX_PATH="$prefix" -DZX_HOST_SOURCE="$source/examples/c-host/c_host.c"
quiet consumer-build cmake --build "$work/cmake-consumer"

echo "== consumer with pkg-config"
pc_dir=$(dirname "$(find "$prefix" -name zxcollector_api.pc)")
flags=$(PKG_CONFIG_PATH=$pc_dir pkg-config --cflags --libs zxcollector_api)
mkdir -p "$work/pc-consumer"
# shellcheck disable=SC2086
cc -std=c99 -Wall -o "$work/pc-consumer/c_host" "$source/examples/c-host/c_host.c" $flags

require_private_network
start_simulator "$prefix/bin/vci-sim" "$work/sim.out" || fail "the simulator did not start"
for host in cmake-consumer pc-consumer; do
  # Only the installed library: the build tree's is not on any path the program sees.
  mkdir -p "$work/$host/save"
  LD_LIBRARY_PATH=$(dirname "$lib") quiet "$host" "$work/$host/c_host" "$work/$host/log.txt" "$work/$host/save" 1
  used=$(LD_LIBRARY_PATH=$(dirname "$lib") ldd "$work/$host/c_host" | awk '/libzxcollector_api/ {print $3}')
  case $used in "$prefix"/*) ;; *) fail "$host loads $used" ;; esac
  echo "  $host: $(cat "$work/$host.out"), $(find "$work/$host/save" -name '*.csv' | wc -l) CSV files"
  [ -n "$(find "$work/$host/save" -name '*.csv')" ] || fail "$host saved no CSV file"
done
stop_simulator

echo "== Debian package"
(cd "$work" && quiet cpack cpack -G DEB --config "$build/CPackConfig.cmake" -B "$work/deb") || exit 1
deb=$(find "$work/deb" -maxdepth 1 -name '*.deb' | head -n 1)
[ -n "$deb" ] || fail "no .deb written"
if [ ! -w /var/lib/dpkg ]; then
  echo "dpkg install skipped: this user cannot write /var/lib/dpkg"
  echo "PASS"
  exit 0
fi
if dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'ok installed'; then
  fail "$package is installed already; remove it first (dpkg -r $package)"
fi
quiet dpkg-install dpkg -i "$deb"
deb_installed=1
files=$(dpkg -L "$package")
for f in /usr/bin/zxcollect /usr/bin/vci-sim /usr/include/zxcollector_api.h; do
  grep -qx "$f" <<<"$files" || fail "the package does not hold $f"
done
quiet installed-zxcollect /usr/bin/zxcollect --help
quiet dpkg-purge dpkg -P "$package"
deb_installed=0
left=$(while read -r f; do if [ -f "$f" ] || [ -L "$f" ]; then echo "$f"; fi; done <<<"$files")
[ -z "$left" ] || fail "left after removal: $left"
echo "dpkg: installed $(grep -c . <<<"$files") paths and removed them cleanly"
echo "PASS"

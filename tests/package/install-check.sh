#!/usr/bin/env bash
# What a user of the Linux build gets: `cmake --install` into an empty prefix, whose
# zxcollect starts as installed (no LD_LIBRARY_PATH) and collects from the box simulator;
# then a project outside the tree built against it once with find_package and once with
# pkg-config, both run against the box simulator. (The Debian packages: deb-check.sh.)
#   install-check.sh <build folder> <source folder>
set -euo pipefail
build=$1 source=$2
work=$(mktemp -d)
. "$(dirname "$0")/../support/sim.sh"
trap 'stop_simulator; rm -rf "$work"' EXIT

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
echo "== installed zxcollect, as installed"
# Nothing but its RPATH leads it to the installed library.
(unset LD_LIBRARY_PATH && quiet installed-zxcollect "$prefix/bin/zxcollect" --device 0 \
  --channel 0:can:500000 --save "$work/zxcollect-save" --duration 1)
used=$(env -u LD_LIBRARY_PATH ldd "$prefix/bin/zxcollect" | awk '/libzxcollector_api/ {print $3}')
case $used in "$prefix"/*) ;; *) fail "the installed zxcollect loads '$used'" ;; esac
[ -n "$(find "$work/zxcollect-save" -name '*.csv')" ] || fail "the installed zxcollect saved no CSV file"
echo "  zxcollect: $used, $(find "$work/zxcollect-save" -name '*.csv' | wc -l) CSV files"
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

echo "PASS"

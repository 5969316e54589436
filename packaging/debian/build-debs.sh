#!/usr/bin/env bash
# The Debian packages of the Linux build, split as Debian splits a library:
#   libzxcollector-api3     the shared library in the multiarch folder (symbols, shlibs >= 3.0)
#   libzxcollector-api-dev  header, CMake package, pkg-config file, the .so link
#   zxcollector-tools       zxcollect and vci-sim, with man pages written from their --help
#   python3-zxcollector     the Python package, when the tree has python/ (see python_package)
# It configures a build of its own with prefix /usr (so GNUInstallDirs picks the multiarch
# libdir) in build-deb/ beside build/ (the same depth, so ccache serves the objects that
# build/ compiled), installs it into a staging folder, splits that into one root per package, adds
# copyright, changelog and md5sums, strips the binaries, computes Depends with
# dpkg-shlibdeps and writes the packages with dpkg-deb. Every staged file must land in a
# package: anything left over is an error.
#   packaging/debian/build-debs.sh <work folder>      (writes <work folder>/*.deb)
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
source=$(cd "$here/../.." && pwd)
mkdir -p "$1"
work=$(cd "$1" && pwd)

version=$(sed -nE 's/^#define ZXCOLLECTOR_VERSION_(MAJOR|MINOR|PATCH) ([0-9]+).*/\2/p' \
  "$source/include/zxcollector_api.h" | paste -sd.)
major=${version%%.*}
arch=$(dpkg --print-architecture)
multiarch=$(dpkg-architecture -qDEB_HOST_MULTIARCH)
libdir=usr/lib/$multiarch
maintainer="zxcollector_api maintainers <maintainers@zxcollector-api.example>"
lib_package=libzxcollector-api$major
dev_package=libzxcollector-api-dev
tools_package=zxcollector-tools
python_package=python3-zxcollector
changelog_version=$(sed -nE '1s/^[^ ]+ \(([^)]+)\).*/\1/p' "$here/changelog")
[ "$changelog_version" = "$version" ] || {
  echo "build-debs: packaging/debian/changelog starts at $changelog_version, the header says $version" >&2
  exit 1
}

build=${ZX_DEB_BUILD_DIR:-$source/build-deb}
echo "== build with prefix /usr ($build)"
# The link flags Debian builds with (RELRO, BIND_NOW); the compile flags stay the
# project's, so the objects are the tested ones.
LDFLAGS="$(DEB_BUILD_MAINT_OPTIONS=hardening=+bindnow dpkg-buildflags --get LDFLAGS)"
export LDFLAGS
cmake -S "$source" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_INSTALL_PREFIX=/usr \
  -DCMAKE_INSTALL_LIBDIR="lib/$multiarch" -DZX_BUILD_TESTS=OFF -DZX_BUILD_BENCH=OFF >"$work/configure.log"
ninja -C "$build" zxcollector_api zxcollect vci-sim >"$work/build.log"
rm -rf "$work/stage" "$work/debian" "$work"/*.deb
DESTDIR="$work/stage" cmake --install "$build" >"$work/install.log"
stage=$work/stage

# Man pages from --help and --version, made while the programs still find the staged library.
mkdir -p "$stage/usr/share/man/man1"
help2man -N --no-info -n "collect CAN / CAN FD module records from a VCI box and save them as CSV" \
  -o "$stage/usr/share/man/man1/zxcollect.1" "$stage/usr/bin/zxcollect"
help2man -N --no-info -n "simulated VCI network boxes with measurement modules, for tests and demos" \
  -o "$stage/usr/share/man/man1/vci-sim.1" "$stage/usr/bin/vci-sim"
gzip -9n "$stage/usr/share/man/man1/"*.1

# Moves the staged paths (relative to the stage) into the package's root.
take() {
  local package=$1 path
  shift
  for path in "$@"; do
    [ -e "$stage/$path" ] || [ -L "$stage/$path" ] || { echo "build-debs: $path was not installed" >&2; exit 1; }
    mkdir -p "$work/debian/$package/$(dirname "$path")"
    mv "$stage/$path" "$work/debian/$package/$path"
  done
}
take "$lib_package" "$libdir/libzxcollector_api.so.$major" "$libdir/libzxcollector_api.so.$version"
take "$dev_package" usr/include/zxcollector_api.h "$libdir/libzxcollector_api.so" "$libdir/cmake" \
  "$libdir/pkgconfig"
take "$tools_package" usr/bin/zxcollect usr/bin/vci-sim usr/share/man/man1/zxcollect.1.gz \
  usr/share/man/man1/vci-sim.1.gz
left=$(find "$stage" -type f -o -type l)
[ -z "$left" ] || { echo "build-debs: installed but in no package: $left" >&2; exit 1; }

packages=("$lib_package" "$dev_package" "$tools_package")
if [ -d "$source/python" ] && [ -x "$here/python-package.sh" ]; then
  # Stages the Python package into debian/python3-zxcollector (hook for python/).
  bash "$here/python-package.sh" "$source/python" "$work/debian/$python_package"
  packages+=("$python_package")
fi

# As dh_strip does: no debug sections, no .comment or .note sections.
strip --remove-section=.comment --remove-section=.note --strip-unneeded \
  "$work/debian/$lib_package/$libdir/libzxcollector_api.so.$version"
strip --remove-section=.comment --remove-section=.note \
  "$work/debian/$tools_package/usr/bin/zxcollect" "$work/debian/$tools_package/usr/bin/vci-sim"

# The library's dependency information: shlibs for (>= 3.0), and a symbols file that
# names the version each function came with, so a program that calls only the
# functions of 3.0 depends on (>= 3.0) and one that calls ZxGetVersion on (>= 3.1).
mkdir -p "$work/debian/$lib_package/DEBIAN"
echo "libzxcollector_api $major $lib_package (>= $major.0)" >"$work/debian/$lib_package/DEBIAN/shlibs"
{
  echo "libzxcollector_api.so.$major $lib_package #MINVER#"
  echo "* Build-Depends-Package: $dev_package"
  nm -D --defined-only --format=just-symbols "$work/debian/$lib_package/$libdir/libzxcollector_api.so.$version" |
    sort | while read -r symbol; do
      case $symbol in
      ZxGetResultText | ZxGetVersion) since=3.1 ;;
      *) since=3.0 ;;
      esac
      echo " $symbol@Base $since"
    done
} >"$work/debian/$lib_package/DEBIAN/symbols"
echo "activate-noawait ldconfig" >"$work/debian/$lib_package/DEBIAN/triggers"

# dpkg-shlibdeps reads the packages being built from debian/*/DEBIAN/{shlibs,symbols}.
printf 'Source: zxcollector-api\n\nPackage: %s\nArchitecture: any\n' "$lib_package" >"$work/debian/control"
depends_of() {
  (cd "$work" && dpkg-shlibdeps -O -S"$work/debian/$1" "${@:2}" 2>"$work/shlibdeps.err") |
    sed -n 's/^shlibs:Depends=//p'
}
lib_depends=$(depends_of "$lib_package" "$work/debian/$lib_package/$libdir/libzxcollector_api.so.$version")
tools_depends=$(depends_of "$tools_package" "$work/debian/$tools_package/usr/bin/zxcollect" \
  "$work/debian/$tools_package/usr/bin/vci-sim")
[ -n "$lib_depends" ] && [ -n "$tools_depends" ] || { cat "$work/shlibdeps.err" >&2; exit 1; }

description_common=" zxcollector_api gives a host application plain C functions to a
 measurement collector: it opens VCI network boxes over UDP, initialises their
 CAN and CAN FD channels, sets the sampling frequency of temperature, voltage,
 current and frequency modules, hands the decoded sample records to the host
 and saves them as CSV files."

control() {
  local package=$1 section=$2 multi_arch=$3 depends=$4 summary=$5 body=$6
  local size
  size=$(du -sk --apparent-size --exclude=DEBIAN "$work/debian/$package" | cut -f1)
  {
    echo "Package: $package"
    echo "Source: zxcollector-api"
    echo "Version: $version"
    echo "Architecture: $([ "$section" = python ] && echo all || echo "$arch")"
    echo "Maintainer: $maintainer"
    echo "Installed-Size: $size"
    [ -n "$depends" ] && echo "Depends: $depends"
    [ "$section" = python ] && echo "Suggests: python3-h5py, python3-matplotlib"
    echo "Section: $section"
    echo "Priority: optional"
    [ -n "$multi_arch" ] && echo "Multi-Arch: $multi_arch"
    echo "Description: $summary"
    echo "$description_common"
    echo " ."
    echo "$body"
  } >"$work/debian/$package/DEBIAN/control"
}

for package in "${packages[@]}"; do
  doc=$work/debian/$package/usr/share/doc/$package
  mkdir -p "$doc" "$work/debian/$package/DEBIAN"
  install -m 0644 "$here/copyright" "$doc/copyright"
  gzip -9n <"$here/changelog" >"$doc/changelog.gz"
done
control "$lib_package" libs same "$lib_depends" \
  "collector library for CAN measurement modules behind a VCI box" \
  " This package holds the shared library libzxcollector_api.so.$major."
control "$dev_package" libdevel same "$lib_package (= $version)" \
  "collector library for CAN measurement modules (development files)" \
  " This package holds the C header zxcollector_api.h, the CMake package
 (find_package(zxcollector)), the pkg-config file zxcollector_api.pc and the
 link to the shared library."
control "$tools_package" electronics foreign "$tools_depends" \
  "command-line collector and VCI box simulator for zxcollector_api" \
  " This package holds zxcollect, which collects from one or more boxes, shows a
 live progress line and saves CSV files, and vci-sim, a simulator of the boxes
 and their modules for tests and demonstrations inside a private network
 namespace."
if [[ " ${packages[*]} " == *" $python_package "* ]]; then
  # numpy: records come as arrays; h5py and matplotlib only for its HDF5 export and plot.
  control "$python_package" python "" "python3:any, python3-numpy, $lib_package (>= $version)" \
    "Python bindings to the zxcollector_api collector library" \
    " This package holds the Python 3 package zxcollector, which loads the shared
 library with ctypes."
fi

for package in "${packages[@]}"; do
  root=$work/debian/$package
  find "$root" -type d -exec chmod 0755 {} +
  find "$root" -type f ! -path "$root/DEBIAN/*" -exec chmod 0644 {} +
  [ -d "$root/usr/bin" ] && chmod 0755 "$root"/usr/bin/*
  chmod 0644 "$root"/DEBIAN/*
  (cd "$root" && find . -type f ! -path './DEBIAN/*' -printf '%P\0' | sort -z | xargs -0 -r md5sum) \
    >"$root/DEBIAN/md5sums"
  dpkg-deb --root-owner-group -Zxz --build "$root" "$work/${package}_${version}_$(sed -n 's/^Architecture: //p' "$root/DEBIAN/control").deb" >/dev/null
done
ls "$work"/*.deb

#!/usr/bin/env bash
# Installs the dependencies from Debian's packages.
#   scripts/setup.sh          everything the test command needs (scripts/test.sh)
#   scripts/setup.sh --demo   only what the Linux build and scripts/demo.sh need
# Idempotent and non-interactive: packages already present are left alone.
set -euo pipefail
mode=${1:-test}

# The Linux library, zxcollect, vci-sim, the private namespace and the plot.
packages=(
  build-essential cmake ninja-build pkg-config ccache
  qtbase5-dev libfmt-dev libconcurrentqueue-dev
  iproute2 util-linux python3 python3-matplotlib
)
# zxcollect's live page: the HTTP server library, npm for the page's charting library
# (Debian's nodejs and npm unless an npm is there already: another node distribution's
# nodejs carries its own npm and conflicts with Debian's); socat relays the page out of
# the demos' private namespace. The plot draws through the Python package (numpy, pandas).
packages+=(libcpp-httplib-dev socat python3-numpy python3-pandas)
command -v npm >/dev/null || packages+=(nodejs npm)
# zxcollect --mqtt: the MQTT client library.
packages+=(libmosquitto-dev)
if [ "$mode" = --demo ]; then
  ZX_WITH_WINDOWS=0
else
  # Tests, benchmarks, formatting, the C# host, the fuzz targets.
  packages+=(
    clang-format dpkg-dev
    libgtest-dev libgmock-dev libbenchmark-dev
    mono-mcs mono-runtime
    clang libclang-rt-dev
  )
  # The Debian packages: man pages from --help, lintian, file to check stripping.
  packages+=(help2man lintian file)
  # The live page's browser test: headless chromium driven by selenium.
  packages+=(chromium chromium-driver python3-selenium)
  # The Python package's tests and install: h5py for to_hdf5, pytest, venv, pip, setuptools.
  packages+=(python3-h5py python3-pytest python3-venv python3-pip python3-setuptools)
  # zxcollect --mqtt's tests: a real broker, its clients, a Python subscriber, certificates.
  packages+=(mosquitto mosquitto-clients python3-paho-mqtt openssl)
fi
if [ "${ZX_WITH_WINDOWS:-1}" = 1 ]; then
  # 64- and 32-bit mingw-w64, and wine with both halves: wine32 comes from i386 multiarch.
  packages+=(g++-mingw-w64-x86-64-posix g++-mingw-w64-i686-posix wine wine64 wine32:i386 xz-utils)
  # llvm-dlltool: the MSVC import libraries as short import objects, as Microsoft's tools make them.
  packages+=(llvm)
fi

# Asks for sudo only here, and only when not root.
as_root=()
[ "$(id -u)" -ne 0 ] && as_root=(sudo)
updated=0
apt_update() {
  [ "$updated" = 1 ] || "${as_root[@]}" apt-get update -qq
  updated=1
}

if [ "${ZX_WITH_WINDOWS:-1}" = 1 ] && ! dpkg --print-foreign-architectures | grep -qx i386; then
  echo "setup: adding the i386 architecture (for wine32)"
  "${as_root[@]}" dpkg --add-architecture i386
  apt_update
fi

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done

if [ "${#missing[@]}" -gt 0 ]; then
  echo "setup: installing ${missing[*]}"
  apt_update
  "${as_root[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
else
  echo "setup: all packages present"
fi

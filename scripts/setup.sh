#!/usr/bin/env bash
# Installs every build and test dependency from Debian's packages.
# Idempotent and non-interactive: packages already present are left alone.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config clang-format dpkg-dev ccache
  qtbase5-dev libfmt-dev libconcurrentqueue-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  iproute2 python3 python3-matplotlib util-linux
  mono-mcs mono-runtime
  clang libclang-rt-dev
)
# zxcollect --live: the HTTP server library, npm for the page's charting library, and the
# headless browser of its test; socat relays the page out of the demos' private namespace.
packages+=(libcpp-httplib-dev chromium chromium-driver python3-selenium socat)
# Debian's nodejs and npm, unless an npm is there already (another node distribution's
# nodejs carries its own npm and conflicts with Debian's).
command -v npm >/dev/null || packages+=(nodejs npm)
# The Python package (python/): numpy, pandas and h5py for its functions, pytest for its
# tests, venv, pip and setuptools for installing it.
packages+=(python3-numpy python3-pandas python3-h5py python3-pytest python3-venv python3-pip python3-setuptools)
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

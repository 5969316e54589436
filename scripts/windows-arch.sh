# shellcheck shell=bash disable=SC2034
# Sourced by the Windows scripts with their own arguments: the target from ZX_WIN_ARCH
# (x86_64, the default, or i686) gives arch, bits (64 or 32) and build, the build folder
# (the first argument, default build-win or build-win32 in the clone at $repo).
arch=${ZX_WIN_ARCH:-x86_64}
case $arch in
  x86_64) bits=64 default_build=build-win ;;
  i686) bits=32 default_build=build-win32 ;;
  *) echo "$(basename "$0" .sh): ZX_WIN_ARCH must be x86_64 or i686" >&2; exit 2 ;;
esac
build=${1:-$repo/$default_build}
# CMake needs absolute paths for what it finds there (a relative one breaks the generate step).
mkdir -p "$build"
build=$(cd "$build" && pwd)

# Cross build for 64-bit Windows with Debian's mingw-w64 (posix threads), run under wine.
#   cmake -S . -B build-win -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-mingw64.cmake \
#         -DCMAKE_PREFIX_PATH=<qt5core-mingw64> -DZX_THIRD_PARTY_INCLUDE=<fmt and concurrentqueue headers>
# scripts/setup-windows.sh prepares those folders; scripts/build-windows.sh runs this.
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(ZX_MINGW_TRIPLET x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/ZxMingwToolchain.cmake)

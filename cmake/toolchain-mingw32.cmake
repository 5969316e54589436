# Cross build for 32-bit Windows with Debian's mingw-w64 (posix threads), run under wine
# with i386 multiarch (wine32). Exports are __stdcall there; the module-definition file
# keeps their names plain.
#   cmake -S . -B build-win32 -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-mingw32.cmake ...
# scripts/build-windows.sh with ZX_WIN_ARCH=i686 runs this.
set(CMAKE_SYSTEM_PROCESSOR x86)
set(ZX_MINGW_TRIPLET i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/ZxMingwToolchain.cmake)

# The parts of the mingw-w64 cross toolchain files shared by 64- and 32-bit Windows;
# the including file sets CMAKE_SYSTEM_PROCESSOR and ZX_MINGW_TRIPLET first.
set(CMAKE_SYSTEM_NAME Windows)
# The posix flavour: std::thread and std::mutex need the winpthreads runtime.
set(CMAKE_C_COMPILER ${ZX_MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${ZX_MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${ZX_MINGW_TRIPLET}-windres)
set(CMAKE_OBJDUMP ${ZX_MINGW_TRIPLET}-objdump CACHE FILEPATH "objdump of the target")

# Test programs and try-runs go through wine; no separate wine64 command on Debian.
# wine-loader.sh picks the loader this machine can start (see there).
find_program(ZX_WINE wine)
if(ZX_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/../scripts/wine-loader.sh)
endif()

# Libraries and headers come from the mingw sysroot and the prefixes the build names
# (Qt, the test framework); the host's /usr/include and /usr/lib never take part.
set(CMAKE_FIND_ROOT_PATH /usr/${ZX_MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
# Packages (Qt, the test framework) come from the prefixes on CMAKE_PREFIX_PATH, which lie
# outside the sysroot: they become roots of their own, so the host's package folders are
# still never searched.
list(APPEND CMAKE_FIND_ROOT_PATH ${CMAKE_PREFIX_PATH})
set(CMAKE_FIND_USE_PACKAGE_REGISTRY OFF)
set(CMAKE_FIND_USE_SYSTEM_PACKAGE_REGISTRY OFF)

# The runtime DLLs that every program of this build needs beside it under wine.
set(ZX_MINGW_RUNTIME_DIRS /usr/lib/gcc/${ZX_MINGW_TRIPLET}/12-posix /usr/${ZX_MINGW_TRIPLET}/lib)

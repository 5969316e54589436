# One place that names the platform. Sources pick their platform file with
# ZX_PLATFORM_SUFFIX (Posix or Win), never with #ifdef in the logic.
if(WIN32)
  set(ZX_PLATFORM_SUFFIX Win)
else()
  set(ZX_PLATFORM_SUFFIX Posix)
endif()

# Only the exported functions (the map file lists them) are visible outside the shared library.
if(NOT WIN32)
  add_compile_options(-fvisibility=hidden -fvisibility-inlines-hidden)
  if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
    # g++ marks some template statics unique, which pins a shared object in memory
    # until exit; without them dlclose really unloads the library.
    add_compile_options($<$<COMPILE_LANGUAGE:CXX>:-fno-gnu-unique>)
  endif()
endif()

include(${CMAKE_CURRENT_LIST_DIR}/ZxImportLibrary.cmake)

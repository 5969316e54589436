# The Windows zip, zxcollector_api-<version>-win64.zip (or -win32 for i686):
#   bin/      zxcollector_api.dll, zxcollect.exe, Qt5Core.dll and the mingw runtime DLLs
#   lib/      zxcollector_api.lib (import library for MSVC's linker, made from the .def file),
#             libzxcollector_api.dll.a (for MinGW) and the CMake package files
#   include/  zxcollector_api.h
#   examples/ the C host and the C# host
#   README.txt (contents, network set-up, calling from C, C#, Python, LabVIEW, VBA), LICENSE.txt
# The GCC runtime ships as DLLs rather than linked in: Qt5Core.dll needs libstdc++,
# libgcc_s and libwinpthread as DLLs anyway, and one shared copy of them serves both.
if(CMAKE_SIZEOF_VOID_P EQUAL 8)
  set(zx_win_suffix win64)
else()
  set(zx_win_suffix win32)
endif()

# zxcollector_api.lib: written beside libzxcollector_api.dll.a when the DLL links
# (ZxImportLibrary.cmake).
set(zx_msvc_lib ${CMAKE_BINARY_DIR}/zxcollector_api.lib)
install(FILES ${zx_msvc_lib} DESTINATION ${CMAKE_INSTALL_LIBDIR})

# What the DLL and zxcollect.exe load beside them.
get_target_property(zx_qt_core_dll Qt5::Core IMPORTED_LOCATION_RELEASE)
if(NOT zx_qt_core_dll)
  get_target_property(zx_qt_core_dll Qt5::Core LOCATION)
endif()
set(zx_runtime_dlls ${zx_qt_core_dll})
foreach(name libstdc++-6.dll libgcc_s_seh-1.dll libgcc_s_dw2-1.dll libwinpthread-1.dll)
  find_file(zx_dll_${name} ${name} PATHS ${ZX_MINGW_RUNTIME_DIRS} NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH)
  if(zx_dll_${name})
    list(APPEND zx_runtime_dlls ${zx_dll_${name}})
  endif()
endforeach()
# Debian ships them with their debug sections (libstdc++-6.dll is over 20 MB so); the zip
# gets copies without.
set(zx_stripped_dlls)
foreach(dll ${zx_runtime_dlls})
  get_filename_component(dll_name ${dll} NAME)
  set(stripped ${CMAKE_BINARY_DIR}/runtime-dlls/${dll_name})
  add_custom_command(OUTPUT ${stripped}
                     COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/runtime-dlls
                     COMMAND ${CMAKE_STRIP} --strip-debug -o ${stripped} ${dll}
                     DEPENDS ${dll})
  list(APPEND zx_stripped_dlls ${stripped})
endforeach()
add_custom_target(zx_runtime_dlls ALL DEPENDS ${zx_stripped_dlls})
install(FILES ${zx_stripped_dlls} DESTINATION ${CMAKE_INSTALL_BINDIR})

set(ZX_VERSION ${PROJECT_VERSION})
set(ZX_ARCH ${zx_win_suffix})
configure_file(${ZX_SOURCE_ROOT}/packaging/windows/README.txt ${CMAKE_BINARY_DIR}/zip/README.txt @ONLY
               NEWLINE_STYLE CRLF)
configure_file(${ZX_SOURCE_ROOT}/LICENSE ${CMAKE_BINARY_DIR}/zip/LICENSE.txt COPYONLY)
install(FILES ${CMAKE_BINARY_DIR}/zip/README.txt ${CMAKE_BINARY_DIR}/zip/LICENSE.txt DESTINATION .)
install(FILES ${ZX_SOURCE_ROOT}/examples/c-host/c_host.c DESTINATION examples/c-host)
install(FILES ${ZX_SOURCE_ROOT}/examples/csharp/ZxCollectorHost.cs DESTINATION examples/csharp)

set(CPACK_GENERATOR ZIP)
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGE_FILE_NAME zxcollector_api-${PROJECT_VERSION}-${zx_win_suffix})
set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)

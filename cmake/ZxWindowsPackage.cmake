# The Windows zip, zxcollector_api-<version>-win64.zip (or -win32 for i686):
#   bin/      zxcollector_api.dll, zxcollect.exe, Qt5Core.dll and the mingw runtime DLLs
#   lib/      zxcollector_api.lib (import library for MSVC's linker, made from the .def file),
#             libzxcollector_api.dll.a (for MinGW) and the CMake package files
#   include/  zxcollector_api.h
# The GCC runtime ships as DLLs rather than linked in: Qt5Core.dll needs libstdc++,
# libgcc_s and libwinpthread as DLLs anyway, and one shared copy of them serves both.
if(CMAKE_SIZEOF_VOID_P EQUAL 8)
  set(zx_win_suffix win64)
  set(zx_dlltool_machine i386:x86-64)
else()
  set(zx_win_suffix win32)
  set(zx_dlltool_machine i386)
endif()

# zxcollector_api.lib from the module-definition file. A 32-bit host compiled with the
# header calls _ZxOpenDev@12 (__stdcall): the import library maps each decorated name to
# the DLL's plain export, so it gets the sizes of the arguments from the header.
find_program(ZX_DLLTOOL ${ZX_MINGW_TRIPLET}-dlltool REQUIRED)
set(zx_msvc_lib ${CMAKE_BINARY_DIR}/zxcollector_api.lib)
set(zx_import_def ${CMAKE_BINARY_DIR}/zxcollector_api-import.def)
file(READ ${ZX_SOURCE_ROOT}/include/zxcollector_api.h zx_header)
string(REGEX MATCHALL "ZX_CALL[ \t\n]+Zx[A-Za-z]+\\([^)]*\\)" zx_declarations "${zx_header}")
set(zx_def_text "LIBRARY zxcollector_api.dll\nEXPORTS\n")
foreach(declaration ${zx_declarations})
  string(REGEX REPLACE "ZX_CALL[ \t\n]+(Zx[A-Za-z]+)\\(.*" "\\1" name "${declaration}")
  if(CMAKE_SIZEOF_VOID_P EQUAL 8)
    string(APPEND zx_def_text "    ${name}\n")
  else()
    # Every parameter is 32 bits wide (integers and pointers) on i686.
    string(REGEX REPLACE ".*\\((.*)\\)" "\\1" params "${declaration}")
    string(REGEX REPLACE "[^,]" "" commas "${params}")
    string(LENGTH "${commas}" count)
    if(params MATCHES "^[ \t\n]*void[ \t\n]*$")
      set(bytes 0)
    else()
      math(EXPR bytes "(${count} + 1) * 4")
    endif()
    string(APPEND zx_def_text "    ${name}@${bytes}\n")
  endif()
endforeach()
file(GENERATE OUTPUT ${zx_import_def} CONTENT "${zx_def_text}")
set(zx_kill_at)
if(NOT CMAKE_SIZEOF_VOID_P EQUAL 8)
  set(zx_kill_at --kill-at)
endif()
add_custom_command(OUTPUT ${zx_msvc_lib}
                   COMMAND ${ZX_DLLTOOL} --machine ${zx_dlltool_machine} --input-def ${zx_import_def}
                           ${zx_kill_at} --dllname zxcollector_api.dll --output-lib ${zx_msvc_lib}
                   DEPENDS ${zx_import_def} ${ZX_SOURCE_ROOT}/include/zxcollector_api.h
                   COMMENT "Import library zxcollector_api.lib for MSVC")
add_custom_target(zxcollector_api_msvc_lib ALL DEPENDS ${zx_msvc_lib})
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

set(CPACK_GENERATOR ZIP)
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGE_FILE_NAME zxcollector_api-${PROJECT_VERSION}-${zx_win_suffix})
set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)

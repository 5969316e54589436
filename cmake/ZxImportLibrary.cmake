# zx_import_libraries(<dll target>): after the DLL links, its import libraries are made
# from the names and argument sizes of the public header:
#   libzxcollector_api.dll.a  (the target's linker file, for MinGW; GNU dlltool)
#   zxcollector_api.lib       (in the top build folder, for MSVC's linker; llvm-dlltool)
# The .lib holds short import objects, as Microsoft's own tools write them: code stubs
# from GNU dlltool lack the safe-exception-handler marker, and a Win32 project linking
# with /SAFESEH (Visual Studio's default) would refuse them.
# A 32-bit host compiled with the header calls _ZxOpenDev@12 (__stdcall) while the DLL
# exports the plain ZxOpenDev: these libraries map each decorated name to the plain export,
# which the import library that ld writes with --kill-at does not (it holds plain names
# only, and a 32-bit host would not link).
function(zx_import_libraries target)
  if(NOT WIN32)
    return()
  endif()
  if(CMAKE_SIZEOF_VOID_P EQUAL 8)
    set(machine i386:x86-64)
    set(kill_at)
    set(llvm_kill_at)
  else()
    set(machine i386)
    set(kill_at --kill-at)
    set(llvm_kill_at -k)
  endif()
  file(READ ${ZX_SOURCE_ROOT}/include/zxcollector_api.h header)
  string(REGEX MATCHALL "ZX_CALL[ \t\n]+Zx[A-Za-z]+\\([^)]*\\)" declarations "${header}")
  set(text "LIBRARY zxcollector_api.dll\nEXPORTS\n")
  foreach(declaration ${declarations})
    string(REGEX REPLACE "ZX_CALL[ \t\n]+(Zx[A-Za-z]+)\\(.*" "\\1" name "${declaration}")
    if(CMAKE_SIZEOF_VOID_P EQUAL 8)
      string(APPEND text "    ${name}\n")
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
      string(APPEND text "    ${name}@${bytes}\n")
    endif()
  endforeach()
  set(def ${CMAKE_BINARY_DIR}/zxcollector_api-import.def)
  file(WRITE ${def} "${text}")
  find_program(ZX_DLLTOOL ${ZX_MINGW_TRIPLET}-dlltool REQUIRED)
  find_program(ZX_LLVM_DLLTOOL NAMES llvm-dlltool llvm-dlltool-14 REQUIRED)
  add_custom_command(TARGET ${target} POST_BUILD
                     COMMAND ${ZX_DLLTOOL} --machine ${machine} --input-def ${def} ${kill_at}
                             --dllname zxcollector_api.dll --output-lib $<TARGET_LINKER_FILE:${target}>
                     COMMAND ${ZX_LLVM_DLLTOOL} -m ${machine} -d ${def} ${llvm_kill_at} -D zxcollector_api.dll
                             -l ${CMAKE_BINARY_DIR}/zxcollector_api.lib
                     COMMENT "Import libraries of ${target} (MinGW and MSVC)")
  set_property(TARGET ${target} APPEND PROPERTY LINK_DEPENDS ${ZX_SOURCE_ROOT}/include/zxcollector_api.h)
endfunction()

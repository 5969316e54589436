# What `cmake --install` puts under the prefix, and the packages CPack makes of it:
# the shared library, its public header, a CMake package (zxcollector::zxcollector_api)
# and a pkg-config file; on Linux the programs zxcollect and vci-sim, for Windows a zip
# that holds everything a host needs beside the DLL.
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)
include(${CMAKE_CURRENT_LIST_DIR}/ZxVersionResource.cmake)

zx_version_resource(zxcollector_api zxcollector_api.dll DLL "zxcollector_api: collector library for CAN measurement modules behind a VCI box")
zx_version_resource(zxcollect zxcollect.exe APP "zxcollect: command-line collector for zxcollector_api")

set(zx_cmake_dir ${CMAKE_INSTALL_LIBDIR}/cmake/zxcollector)

# Users see the header from the install's include folder, this tree sees it from its own.
set_property(TARGET zxcollector_api PROPERTY INTERFACE_INCLUDE_DIRECTORIES
             "$<BUILD_INTERFACE:${ZX_SOURCE_ROOT}/include>" "$<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}>")
set_target_properties(zxcollector_api PROPERTIES PUBLIC_HEADER ${ZX_SOURCE_ROOT}/include/zxcollector_api.h)
if(NOT WIN32)
  set_target_properties(zxcollector_api PROPERTIES VERSION ${PROJECT_VERSION} SOVERSION ${PROJECT_VERSION_MAJOR})
endif()
add_library(zxcollector::zxcollector_api ALIAS zxcollector_api)

install(TARGETS zxcollector_api EXPORT zxcollectorTargets
        RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
        LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} NAMELINK_COMPONENT Development
        ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
        PUBLIC_HEADER DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(EXPORT zxcollectorTargets NAMESPACE zxcollector:: DESTINATION ${zx_cmake_dir})
configure_package_config_file(${CMAKE_CURRENT_LIST_DIR}/zxcollectorConfig.cmake.in
                              ${CMAKE_BINARY_DIR}/zxcollectorConfig.cmake INSTALL_DESTINATION ${zx_cmake_dir})
write_basic_package_version_file(${CMAKE_BINARY_DIR}/zxcollectorConfigVersion.cmake
                                 COMPATIBILITY SameMajorVersion)
install(FILES ${CMAKE_BINARY_DIR}/zxcollectorConfig.cmake ${CMAKE_BINARY_DIR}/zxcollectorConfigVersion.cmake
        DESTINATION ${zx_cmake_dir})

# pkg-config: the prefix is taken from where the .pc file lies, so a moved install still works.
file(RELATIVE_PATH zx_pc_to_prefix /${CMAKE_INSTALL_LIBDIR}/pkgconfig /)
configure_file(${CMAKE_CURRENT_LIST_DIR}/zxcollector_api.pc.in ${CMAKE_BINARY_DIR}/zxcollector_api.pc @ONLY)
install(FILES ${CMAKE_BINARY_DIR}/zxcollector_api.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)

# Installed programs find the installed library from where they lie, under any prefix
# and without LD_LIBRARY_PATH.
if(NOT WIN32)
  file(RELATIVE_PATH zx_bin_to_lib /${CMAKE_INSTALL_BINDIR} /${CMAKE_INSTALL_LIBDIR})
  set_target_properties(zxcollect PROPERTIES INSTALL_RPATH "$ORIGIN/${zx_bin_to_lib}")
endif()
install(TARGETS zxcollect RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
if(TARGET vci-sim)
  install(TARGETS vci-sim RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
endif()

# The Debian packages are made by packaging/debian/build-debs.sh; CPack makes the
# Windows zip.
if(WIN32)
  set(CPACK_PACKAGE_NAME zxcollector_api)
  set(CPACK_PACKAGE_VENDOR "zxcollector_api")
  set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Collector library for CAN / CAN FD measurement modules behind a VCI box")
  set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
  include(${CMAKE_CURRENT_LIST_DIR}/ZxWindowsPackage.cmake)
  include(CPack)
endif()

# Qt 5 Core, {fmt} in header-only mode and moodycamel ConcurrentQueue.
# The cross build points ZX_THIRD_PARTY_INCLUDE at a folder holding only the
# fmt/ and concurrentqueue/ headers, so the host's /usr/include never reaches it.
set(CMAKE_AUTOMOC ON)
find_package(Qt5 5.15 REQUIRED COMPONENTS Core)
find_package(Threads REQUIRED)

add_library(zx_third_party INTERFACE)
if(ZX_THIRD_PARTY_INCLUDE)
  target_include_directories(zx_third_party SYSTEM INTERFACE ${ZX_THIRD_PARTY_INCLUDE})
  target_compile_definitions(zx_third_party INTERFACE FMT_HEADER_ONLY=1)
else()
  find_package(fmt 9 REQUIRED)
  target_link_libraries(zx_third_party INTERFACE fmt::fmt-header-only)
  find_path(ZX_CONCURRENTQUEUE_DIR concurrentqueue/concurrentqueue.h REQUIRED)
  target_include_directories(zx_third_party SYSTEM INTERFACE ${ZX_CONCURRENTQUEUE_DIR})
endif()
target_link_libraries(zx_third_party INTERFACE Qt5::Core Threads::Threads)

if(WIN32)
  # Qt's headers trip -Wattributes under mingw (qregexp.h redeclares a dllimport friend);
  # as system headers they stay quiet while our own code keeps every warning.
  get_target_property(zx_qt_includes Qt5::Core INTERFACE_INCLUDE_DIRECTORIES)
  set_property(TARGET Qt5::Core PROPERTY INTERFACE_SYSTEM_INCLUDE_DIRECTORIES ${zx_qt_includes})
  # Winsock for the VCI link and the socket option helpers.
  target_link_libraries(zx_third_party INTERFACE ws2_32)
endif()

# GoogleTest built from the machine's sources with the project's compiler, for a cross build that
# cannot use the host's prebuilt libraries; the same GTest:: targets as find_package(GTest).
set(ZOR_GOOGLETEST_SOURCE /usr/src/googletest CACHE PATH "GoogleTest sources (Debian's googletest package)")
if(NOT EXISTS ${ZOR_GOOGLETEST_SOURCE}/CMakeLists.txt)
  message(FATAL_ERROR "GoogleTest sources not found in ${ZOR_GOOGLETEST_SOURCE} (Debian package googletest)")
endif()

set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
# Built without our warning options: they are for our code, not GoogleTest's.
get_directory_property(zor_saved_options COMPILE_OPTIONS)
set_directory_properties(PROPERTIES COMPILE_OPTIONS "")
# SYSTEM: warnings from its headers are not ours either.
add_subdirectory(${ZOR_GOOGLETEST_SOURCE} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL SYSTEM)
set_directory_properties(PROPERTIES COMPILE_OPTIONS "${zor_saved_options}")

foreach(target gtest gtest_main gmock gmock_main)
  if(NOT TARGET GTest::${target})
    add_library(GTest::${target} ALIAS ${target})
  endif()
endforeach()

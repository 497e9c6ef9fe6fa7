# Installation and packaging: the library with its headers, a CMake package and a pkg-config file,
# the two programs, their man pages and the README; `cpack -G DEB` makes a Debian package of it.
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

# Headers in a folder of their own: COMPort.h is too common a name for the include root.
set(ZOR_INCLUDE_SUBDIR COM-ZOR4)

install(TARGETS COM-ZOR4 EXPORT COM-ZOR4Targets
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
  INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/${ZOR_INCLUDE_SUBDIR})
install(FILES
  ${PROJECT_SOURCE_DIR}/library/include/COM-ZOR4.h
  ${PROJECT_SOURCE_DIR}/library/include/COMPort.h
  ${PROJECT_SOURCE_DIR}/library/include/com_zor4_export.h
  DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/${ZOR_INCLUDE_SUBDIR})

# The CMake package: find_package(COM-ZOR4 CONFIG) gives COM-ZOR4::COM-ZOR4.
set(ZOR_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/COM-ZOR4)
install(EXPORT COM-ZOR4Targets NAMESPACE COM-ZOR4:: DESTINATION ${ZOR_CMAKE_DIR})
configure_package_config_file(${CMAKE_CURRENT_LIST_DIR}/COM-ZOR4Config.cmake.in
  ${PROJECT_BINARY_DIR}/COM-ZOR4Config.cmake INSTALL_DESTINATION ${ZOR_CMAKE_DIR})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/COM-ZOR4ConfigVersion.cmake
  VERSION ${PROJECT_VERSION} COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/COM-ZOR4Config.cmake ${PROJECT_BINARY_DIR}/COM-ZOR4ConfigVersion.cmake
  DESTINATION ${ZOR_CMAKE_DIR})

# The pkg-config file finds the prefix from its own place, so that it holds under any prefix given
# at install time (cmake --install --prefix, the Debian package's /usr).
set(ZOR_PC_DIR ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
if(IS_ABSOLUTE "${CMAKE_INSTALL_LIBDIR}" OR IS_ABSOLUTE "${CMAKE_INSTALL_INCLUDEDIR}")
  set(ZOR_PC_PREFIX "${CMAKE_INSTALL_PREFIX}")
  set(ZOR_PC_LIBDIR "${CMAKE_INSTALL_FULL_LIBDIR}")
  set(ZOR_PC_INCLUDEDIR "${CMAKE_INSTALL_FULL_INCLUDEDIR}")
else()
  string(REGEX REPLACE "[^/]+" ".." zor_up "${ZOR_PC_DIR}")  # lib/pkgconfig: ../..
  set(ZOR_PC_PREFIX "\${pcfiledir}/${zor_up}")
  set(ZOR_PC_LIBDIR "\${prefix}/${CMAKE_INSTALL_LIBDIR}")
  set(ZOR_PC_INCLUDEDIR "\${prefix}/${CMAKE_INSTALL_INCLUDEDIR}")
endif()
configure_file(${CMAKE_CURRENT_LIST_DIR}/COM-ZOR4.pc.in ${PROJECT_BINARY_DIR}/COM-ZOR4.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/COM-ZOR4.pc DESTINATION ${ZOR_PC_DIR})

foreach(program ZorTester zor-sim)
  if(TARGET ${program})
    install(TARGETS ${program} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  endif()
endforeach()
if(UNIX)
  install(FILES ${PROJECT_SOURCE_DIR}/doc/ZorTester.1 ${PROJECT_SOURCE_DIR}/doc/zor-sim.1
    DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endif()
# Under the Debian package's name, as Debian keeps documentation.
install(FILES ${PROJECT_SOURCE_DIR}/README.md DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/zorline)

# The Debian package: everything in one package, zorline.
set(CPACK_PACKAGE_NAME zorline)
set(CPACK_PACKAGE_VENDOR "ZORLINE")
set(CPACK_PACKAGE_CONTACT "ZORLINE control software <zorline@example.invalid>"
    CACHE STRING "Maintainer of the Debian package: Name <address>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "control and test software for ZORLINE high-voltage amplifier controllers")
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "The COM-ZOR4 device library (shared library, C and C++ headers, CMake and pkg-config files),\n\
the console test utility ZorTester and zor-sim, a simulated device served as an RFC 2217\n\
network serial port.")
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# A shlibs file: programs of other packages built on the library then depend on zorline (>= 1.10).
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS_POLICY ">=")
set(CPACK_STRIP_FILES ON)
set(CPACK_GENERATOR DEB)
include(CPack)

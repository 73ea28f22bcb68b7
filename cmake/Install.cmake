# Install rules: the program, the shared library with its header, a CMake
# package (brennix::brennix) and a pkg-config file.
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

set(BRENNIX_CMAKE_PACKAGE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/brennix)

# Hosts link the exported target as brennix::brennix, the same name as the
# alias inside this build.
set_target_properties(brennix_shared PROPERTIES EXPORT_NAME brennix)

install(TARGETS brennix RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(TARGETS brennix_shared
  EXPORT brennixTargets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${PROJECT_SOURCE_DIR}/include/brennix.h DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})

install(EXPORT brennixTargets
  NAMESPACE brennix::
  DESTINATION ${BRENNIX_CMAKE_PACKAGE_DIR})
configure_package_config_file(
  ${CMAKE_CURRENT_LIST_DIR}/brennixConfig.cmake.in
  ${PROJECT_BINARY_DIR}/brennixConfig.cmake
  INSTALL_DESTINATION ${BRENNIX_CMAKE_PACKAGE_DIR})
write_basic_package_version_file(
  ${PROJECT_BINARY_DIR}/brennixConfigVersion.cmake
  VERSION ${PROJECT_VERSION}
  COMPATIBILITY SameMajorVersion)
install(FILES
  ${PROJECT_BINARY_DIR}/brennixConfig.cmake
  ${PROJECT_BINARY_DIR}/brennixConfigVersion.cmake
  DESTINATION ${BRENNIX_CMAKE_PACKAGE_DIR})

# The pkg-config file finds the prefix from its own place, so the tree may be
# installed with `cmake --install --prefix` anywhere or moved afterwards.
if(IS_ABSOLUTE "${CMAKE_INSTALL_LIBDIR}")
  set(BRENNIX_PC_PREFIX "${CMAKE_INSTALL_PREFIX}")
  set(BRENNIX_PC_LIBDIR "${CMAKE_INSTALL_LIBDIR}")
else()
  file(RELATIVE_PATH BRENNIX_PC_UP "/prefix/${CMAKE_INSTALL_LIBDIR}/pkgconfig" "/prefix")
  string(REGEX REPLACE "/$" "" BRENNIX_PC_UP "${BRENNIX_PC_UP}")
  set(BRENNIX_PC_PREFIX "\${pcfiledir}/${BRENNIX_PC_UP}")
  set(BRENNIX_PC_LIBDIR "\${prefix}/${CMAKE_INSTALL_LIBDIR}")
endif()
if(IS_ABSOLUTE "${CMAKE_INSTALL_INCLUDEDIR}")
  set(BRENNIX_PC_INCLUDEDIR "${CMAKE_INSTALL_INCLUDEDIR}")
else()
  set(BRENNIX_PC_INCLUDEDIR "\${prefix}/${CMAKE_INSTALL_INCLUDEDIR}")
endif()
configure_file(${CMAKE_CURRENT_LIST_DIR}/brennix.pc.in ${PROJECT_BINARY_DIR}/brennix.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/brennix.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)

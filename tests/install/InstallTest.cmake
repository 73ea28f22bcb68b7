# Registers the install test: the build is installed into a scratch prefix and
# a small C host project finds it with find_package and with pkg-config.
find_program(BRENNIX_PKG_CONFIG NAMES pkgconf pkg-config)
set(brennix_install_flags "")
if(BRENNIX_SANITIZE)
  # A sanitized library needs a host linked with the same runtime.
  set(brennix_install_flags "-fsanitize=${BRENNIX_SANITIZE}")
endif()
add_test(NAME install_and_use_from_a_host_project
  COMMAND ${CMAKE_COMMAND}
    -DBUILD_DIR=${PROJECT_BINARY_DIR}
    -DCONFIG=$<CONFIG>
    -DWORK_DIR=${CMAKE_CURRENT_BINARY_DIR}/install-test
    -DHOST_SOURCE=${CMAKE_CURRENT_LIST_DIR}/host
    -DMODEL=${PROJECT_SOURCE_DIR}/samples/house.dff
    -DLIBDIR=${CMAKE_INSTALL_LIBDIR}
    -DINCLUDEDIR=${CMAKE_INSTALL_INCLUDEDIR}
    -DBINDIR=${CMAKE_INSTALL_BINDIR}
    -DGENERATOR=${CMAKE_GENERATOR}
    -DMAKE_PROGRAM=${CMAKE_MAKE_PROGRAM}
    -DC_COMPILER=${CMAKE_C_COMPILER}
    -DHOST_FLAGS=${brennix_install_flags}
    -DPKG_CONFIG=${BRENNIX_PKG_CONFIG}
    -P ${CMAKE_CURRENT_LIST_DIR}/RunInstallTest.cmake)
set_tests_properties(install_and_use_from_a_host_project PROPERTIES TIMEOUT 120)

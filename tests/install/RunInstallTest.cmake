# Installs the build into a scratch prefix, then builds and runs a C host
# against it twice: through the CMake package (brennix::brennix) and through
# pkg-config. Each host generates a COL3 file from MODEL.
cmake_minimum_required(VERSION 3.25)

foreach(var BUILD_DIR WORK_DIR HOST_SOURCE MODEL LIBDIR INCLUDEDIR BINDIR GENERATOR C_COMPILER)
  if(NOT DEFINED ${var} OR "${${var}}" STREQUAL "")
    message(FATAL_ERROR "${var} must be given")
  endif()
endforeach()

function(run what)
  execute_process(COMMAND ${ARGN}
    RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "${what} failed (${status}):\n${out}\n${err}")
  endif()
  set(run_output "${out}" PARENT_SCOPE)
endfunction()

file(REMOVE_RECURSE ${WORK_DIR})
file(MAKE_DIRECTORY ${WORK_DIR})
set(prefix ${WORK_DIR}/prefix)

# 1. Install.
set(config_args "")
if(CONFIG)
  set(config_args --config ${CONFIG})
endif()
run("cmake --install" ${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${prefix} ${config_args})
foreach(file
    ${BINDIR}/brennix
    ${LIBDIR}/libbrennix.so
    ${INCLUDEDIR}/brennix.h
    ${LIBDIR}/cmake/brennix/brennixConfig.cmake
    ${LIBDIR}/cmake/brennix/brennixConfigVersion.cmake
    ${LIBDIR}/cmake/brennix/brennixTargets.cmake
    ${LIBDIR}/pkgconfig/brennix.pc)
  if(NOT EXISTS ${prefix}/${file})
    message(FATAL_ERROR "not installed: ${file}")
  endif()
endforeach()

# 2. A host project that finds the package and links brennix::brennix.
set(generator_args -G ${GENERATOR})
if(MAKE_PROGRAM)
  list(APPEND generator_args -DCMAKE_MAKE_PROGRAM=${MAKE_PROGRAM})
endif()
run("configuring the host project" ${CMAKE_COMMAND}
  -S ${HOST_SOURCE} -B ${WORK_DIR}/host-build ${generator_args}
  -DCMAKE_C_COMPILER=${C_COMPILER}
  "-DCMAKE_C_FLAGS=${HOST_FLAGS}"
  -DCMAKE_PREFIX_PATH=${prefix}
  -DCMAKE_FIND_USE_PACKAGE_REGISTRY=OFF
  -DCMAKE_FIND_USE_SYSTEM_PACKAGE_REGISTRY=OFF)
run("building the host project" ${CMAKE_COMMAND} --build ${WORK_DIR}/host-build)
set(cmake_host ${WORK_DIR}/host-build/host)
run("running the CMake-built host" ${cmake_host} ${MODEL} ${WORK_DIR}/cmake-host.col)
message(STATUS "CMake-built host: ${run_output}")

# 3. The same host compiled with the flags pkg-config gives.
if(NOT PKG_CONFIG)
  message(FATAL_ERROR "pkg-config was not found when the tests were configured")
endif()
run("pkg-config" ${CMAKE_COMMAND} -E env PKG_CONFIG_PATH=${prefix}/${LIBDIR}/pkgconfig
  ${PKG_CONFIG} --cflags --libs brennix)
string(STRIP "${run_output}" pc_flags)
separate_arguments(pc_flags UNIX_COMMAND "${pc_flags}")
# The flags must lead to the installed header and library.
set(pc_header_found FALSE)
set(pc_library_found FALSE)
foreach(flag IN LISTS pc_flags)
  if(flag MATCHES "^-I(.+)$")
    if(EXISTS "${CMAKE_MATCH_1}/brennix.h")
      set(pc_header_found TRUE)
    endif()
  elseif(flag MATCHES "^-L(.+)$")
    if(EXISTS "${CMAKE_MATCH_1}/libbrennix.so")
      set(pc_library_found TRUE)
    endif()
  endif()
endforeach()
if(NOT pc_header_found OR NOT pc_library_found OR NOT "-lbrennix" IN_LIST pc_flags)
  message(FATAL_ERROR "pkg-config flags do not lead to the installed files: ${pc_flags}")
endif()
separate_arguments(host_flags UNIX_COMMAND "${HOST_FLAGS}")
set(pc_host ${WORK_DIR}/host-pc)
run("compiling the host with pkg-config flags"
  ${C_COMPILER} ${host_flags} ${HOST_SOURCE}/host.c ${pc_flags} -o ${pc_host})
run("running the pkg-config host" ${CMAKE_COMMAND} -E env LD_LIBRARY_PATH=${prefix}/${LIBDIR}
  ${pc_host} ${MODEL} ${WORK_DIR}/pc-host.col)
message(STATUS "pkg-config host: ${run_output}")

file(READ ${WORK_DIR}/cmake-host.col cmake_col HEX)
file(READ ${WORK_DIR}/pc-host.col pc_col HEX)
if(NOT cmake_col STREQUAL pc_col)
  message(FATAL_ERROR "the two hosts wrote different COL3 files")
endif()

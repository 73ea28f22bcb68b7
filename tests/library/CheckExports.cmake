# Lists the defined dynamic symbols of LIBRARY with NM and fails unless they
# are exactly the four exported functions (symbols that the linker itself
# defines in every shared object are allowed).
#   cmake -DLIBRARY=<libbrennix.so> -DNM=<nm> -P CheckExports.cmake
cmake_minimum_required(VERSION 3.25)

if(NOT LIBRARY OR NOT NM)
  message(FATAL_ERROR "LIBRARY and NM must be given")
endif()
execute_process(COMMAND ${NM} -D --defined-only ${LIBRARY}
  OUTPUT_VARIABLE listing ERROR_VARIABLE errors RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "${NM} failed on ${LIBRARY}: ${errors}")
endif()

set(expected AppendColToDff EasyVertexColors GenerateColFromDff ImportNVCFromDff)
set(linker_defined _init _fini _edata _end __bss_start)
set(found "")
set(unexpected "")
string(REPLACE "\n" ";" lines "${listing}")
foreach(line IN LISTS lines)
  # "<address> <kind> <name>", the address may be missing for absolute symbols.
  if(NOT line MATCHES "^([0-9a-fA-F]+ +)?([A-Za-z]) +([^ ]+)$")
    continue()
  endif()
  set(kind "${CMAKE_MATCH_2}")
  set(name "${CMAKE_MATCH_3}")
  if(name IN_LIST linker_defined)
    continue()
  endif()
  if(name IN_LIST expected)
    if(NOT kind STREQUAL "T")
      string(APPEND unexpected "  ${kind} ${name} (not a global function)\n")
    endif()
    list(APPEND found ${name})
  else()
    string(APPEND unexpected "  ${kind} ${name}\n")
  endif()
endforeach()

list(SORT found)
if(NOT found STREQUAL expected)
  message(FATAL_ERROR "exported functions are [${found}], expected [${expected}]")
endif()
if(unexpected)
  message(FATAL_ERROR "symbols exported besides the four functions:\n${unexpected}")
endif()
message(STATUS "exports: ${found}")

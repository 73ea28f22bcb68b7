# What the MinGW-w64 toolchain files share. The including file sets
# CMAKE_SYSTEM_PROCESSOR, BRENNIX_MINGW_TRIPLET (the compilers' default
# prefix) and BRENNIX_WINE_NAMES, with BRENNIX_WINE_PATHS where Wine's loader
# may be off PATH. The compilers are found on PATH; set BRENNIX_MINGW_PREFIX
# for another triplet.
set(CMAKE_SYSTEM_NAME Windows)

if(NOT BRENNIX_MINGW_PREFIX)
  set(BRENNIX_MINGW_PREFIX ${BRENNIX_MINGW_TRIPLET})
endif()

# The compilers' posix thread variant, whose C++ library has std::thread (the
# win32 variant's has none); the plain names where that variant is all there
# is. The program links the runtime statically, threads included.
find_program(BRENNIX_MINGW_CC NAMES ${BRENNIX_MINGW_PREFIX}-gcc-posix ${BRENNIX_MINGW_PREFIX}-gcc)
find_program(BRENNIX_MINGW_CXX NAMES ${BRENNIX_MINGW_PREFIX}-g++-posix ${BRENNIX_MINGW_PREFIX}-g++)
if(NOT BRENNIX_MINGW_CC)
  set(BRENNIX_MINGW_CC ${BRENNIX_MINGW_PREFIX}-gcc)
endif()
if(NOT BRENNIX_MINGW_CXX)
  set(BRENNIX_MINGW_CXX ${BRENNIX_MINGW_PREFIX}-g++)
endif()

set(CMAKE_C_COMPILER ${BRENNIX_MINGW_CC})
set(CMAKE_CXX_COMPILER ${BRENNIX_MINGW_CXX})
set(CMAKE_RC_COMPILER ${BRENNIX_MINGW_PREFIX}-windres)
set(CMAKE_AR ${BRENNIX_MINGW_PREFIX}-ar CACHE FILEPATH "Archiver")
set(CMAKE_RANLIB ${BRENNIX_MINGW_PREFIX}-ranlib CACHE FILEPATH "Ranlib")

# Headers and libraries come from the cross compiler's own sysroot only.
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Wine, when present, runs the results for try_run and tests.
find_program(BRENNIX_WINE NAMES ${BRENNIX_WINE_NAMES} PATHS ${BRENNIX_WINE_PATHS})
if(BRENNIX_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${BRENNIX_WINE})
endif()

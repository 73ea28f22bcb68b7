# Cross-compiles the 64-bit Windows program and library with MinGW-w64:
#   cmake -S . -B build-mingw64 -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-x86_64.cmake
# The deliverables are the 32-bit files (cmake/mingw-i686.cmake); this build
# of the same sources is what the tests run under 64-bit Wine where 32-bit
# programs cannot run. The compilers are found on PATH; set
# BRENNIX_MINGW_PREFIX for another triplet.
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(BRENNIX_MINGW_TRIPLET x86_64-w64-mingw32)
# Debian's 64-bit Wine keeps its loader in /usr/lib/wine as wine64.
set(BRENNIX_WINE_NAMES wine64 wine)
set(BRENNIX_WINE_PATHS /usr/lib/wine)
include(${CMAKE_CURRENT_LIST_DIR}/MingwCommon.cmake)

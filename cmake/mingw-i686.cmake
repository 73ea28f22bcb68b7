# Cross-compiles the 32-bit Windows program and library with MinGW-w64:
#   cmake -S . -B build-mingw -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake
# The compilers are found on PATH; set BRENNIX_MINGW_PREFIX for another
# triplet. Wine, when present, runs the results for try_run and tests.
set(CMAKE_SYSTEM_PROCESSOR i686)
set(BRENNIX_MINGW_TRIPLET i686-w64-mingw32)
set(BRENNIX_WINE_NAMES wine)
include(${CMAKE_CURRENT_LIST_DIR}/MingwCommon.cmake)

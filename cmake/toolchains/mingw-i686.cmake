# 32-bit Windows DLL, cross-built with MinGW-w64 (Debian: g++-mingw-w64-i686-win32).
# Usage: cmake -S . -B build-mingw --toolchain cmake/toolchains/mingw-i686.cmake
set(CMAKE_SYSTEM_PROCESSOR i686)
set(triple i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)

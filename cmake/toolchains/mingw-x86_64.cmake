# 64-bit Windows DLL, cross-built with MinGW-w64 (Debian: g++-mingw-w64-x86-64-win32).
# Usage: cmake -S . -B build-mingw64 --toolchain cmake/toolchains/mingw-x86_64.cmake
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(triple x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)

# What the MinGW-w64 toolchain files share; not a toolchain file itself. The including file sets
# CMAKE_SYSTEM_PROCESSOR and `triple` first.
set(CMAKE_SYSTEM_NAME Windows)

# The win32 thread-model compilers: their libstdc++ needs no libwinpthread-1.dll.
set(CMAKE_C_COMPILER ${triple}-gcc-win32)
set(CMAKE_CXX_COMPILER ${triple}-g++-win32)
set(CMAKE_RC_COMPILER ${triple}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${triple})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
# Eigen is header-only and found in the build machine's /usr/share/eigen3.
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE BOTH)
if(NOT DEFINED Eigen3_DIR AND EXISTS /usr/share/eigen3/cmake/Eigen3Config.cmake)
  set(Eigen3_DIR /usr/share/eigen3/cmake CACHE PATH "Eigen's CMake package")
endif()

# The DLL and the hosts carry their own GCC runtime, so that a Windows host needs nothing but
# the system's KERNEL32.dll and msvcrt.dll.
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static-libgcc -static-libstdc++")
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static-libgcc -static-libstdc++")

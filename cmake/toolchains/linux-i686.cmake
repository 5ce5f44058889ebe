# 32-bit x86 Linux with the host's multilib GCC (Debian: g++-multilib).
# Usage: cmake -S . -B build-i686 --toolchain cmake/toolchains/linux-i686.cmake
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR i686)

set(CMAKE_C_COMPILER gcc)
set(CMAKE_CXX_COMPILER g++)
# -m32 picks the ABI, so it belongs to the toolchain rather than to any target. The project adds
# -msse2 -mfpmath=sse itself for every 32-bit x86 build.
set(CMAKE_C_FLAGS_INIT -m32)
set(CMAKE_CXX_FLAGS_INIT -m32)
set(CMAKE_EXE_LINKER_FLAGS_INIT -m32)
set(CMAKE_SHARED_LINKER_FLAGS_INIT -m32)
set(CMAKE_MODULE_LINKER_FLAGS_INIT -m32)
set(CMAKE_LIBRARY_ARCHITECTURE i386-linux-gnu)

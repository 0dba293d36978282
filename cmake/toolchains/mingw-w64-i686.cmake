# cmake/toolchains/mingw-w64-i686.cmake: cross-build for 32-bit Windows with MinGW-w64
# (the posix thread-model compilers, for std::thread and std::mutex).
# Licensed under the Apache License, Version 2.0.
#
#   cmake -S . -B build/win --toolchain cmake/toolchains/mingw-w64-i686.cmake
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR i686)

set(TAVUTIL_MINGW_TRIPLE i686-w64-mingw32)
set(CMAKE_C_COMPILER ${TAVUTIL_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${TAVUTIL_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${TAVUTIL_MINGW_TRIPLE}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${TAVUTIL_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Every program and DLL carries its own copy of the compiler's runtime (libgcc, libstdc++,
# winpthread), so nothing needs a runtime DLL beside it.
set(CMAKE_EXE_LINKER_FLAGS_INIT -static)
set(CMAKE_SHARED_LINKER_FLAGS_INIT -static)
set(CMAKE_MODULE_LINKER_FLAGS_INIT -static)

# The tests run only where a 32-bit Wine is installed.
find_program(TAVUTIL_WINE NAMES wine PATHS /usr/lib/wine NO_DEFAULT_PATH)
if(TAVUTIL_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${TAVUTIL_WINE})
endif()

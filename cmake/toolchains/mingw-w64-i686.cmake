# cmake/toolchains/mingw-w64-i686.cmake: cross-build for 32-bit Windows with MinGW-w64
# (the posix thread-model compilers, for std::thread and std::mutex).
# Licensed under the Apache License, Version 2.0.
#
#   cmake -S . -B build/win --toolchain cmake/toolchains/mingw-w64-i686.cmake
set(CMAKE_SYSTEM_PROCESSOR i686)
set(TAVUTIL_MINGW_TRIPLE i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64-common.cmake)

# The tests run only where a 32-bit Wine is installed.
find_program(TAVUTIL_WINE NAMES wine PATHS /usr/lib/wine NO_DEFAULT_PATH)
if(TAVUTIL_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${TAVUTIL_WINE})
endif()

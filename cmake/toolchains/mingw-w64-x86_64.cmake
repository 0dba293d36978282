# cmake/toolchains/mingw-w64-x86_64.cmake: cross-build for 64-bit Windows with MinGW-w64
# (the posix thread-model compilers, for std::thread and std::mutex).
# Licensed under the Apache License, Version 2.0.
#
#   cmake -S . -B build/win --toolchain cmake/toolchains/mingw-w64-x86_64.cmake
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(TAVUTIL_MINGW_TRIPLE x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64-common.cmake)

# Test programs run under Wine when they are run on this machine at all.
find_program(TAVUTIL_WINE NAMES wine64 wine PATHS /usr/lib/wine)
if(TAVUTIL_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${TAVUTIL_WINE})
endif()

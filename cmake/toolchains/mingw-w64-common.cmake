# cmake/toolchains/mingw-w64-common.cmake: what both MinGW-w64 toolchain files share; they set
# CMAKE_SYSTEM_PROCESSOR and TAVUTIL_MINGW_TRIPLE, then include this file.
# Licensed under the Apache License, Version 2.0.
set(CMAKE_SYSTEM_NAME Windows)

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

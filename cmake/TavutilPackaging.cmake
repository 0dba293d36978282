# cmake/TavutilPackaging.cmake: the Debian packages, made by CPack from the install
# components.
# Licensed under the Apache License, Version 2.0.
#
#   libtavutil<SOVERSION>  component lib    the shared library (libtavutil.so.<SOVERSION>)
#   libtavutil-dev         component dev    headers, libtavutil.so, CMake package, pkg-config
#                                           file, tavutil_add_resource_library()
#   tavutil-tools          component tools  tavrc, the catalogue compiler
#
# The `package` presets build them (build/package/*.deb):
#
#   cmake --preset package && cmake --build --preset package && cpack --preset package
#
# The run-time package carries a shlibs file, so packages built against it depend on it with
# at least this version. A new SONAME is a new run-time package name (libtavutil1...), so
# programs built against the old one keep theirs.

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME tavutil)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "The tavutil developers")
set(CPACK_PACKAGE_CONTACT "The tavutil developers <tavutil-dev@example.org>")
set(CPACK_STRIP_FILES ON)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL lib dev tools)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_RELEASE 1)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# Run-time dependencies from the binaries themselves (dpkg-shlibdeps).
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# A shlibs file for the library: "libtavutil 0 libtavutil0 (>= <version>)".
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS_POLICY ">=")
set(tavutil_deb_version "${PROJECT_VERSION}-${CPACK_DEBIAN_PACKAGE_RELEASE}")
set(tavutil_runtime_package libtavutil${PROJECT_VERSION_MAJOR})

set(CPACK_DEBIAN_LIB_PACKAGE_NAME ${tavutil_runtime_package})
set(CPACK_DEBIAN_LIB_PACKAGE_SECTION libs)
# The shared library's directory is one ldconfig looks at: run it once after dpkg is done.
set(CPACK_DEBIAN_LIB_PACKAGE_CONTROL_EXTRA ${CMAKE_CURRENT_LIST_DIR}/debian/triggers)
set(CPACK_COMPONENT_LIB_DESCRIPTION "C++17 utility class library: run-time library
tavutil provides a reference-counted string, a tagged variant, messages
with per-language catalogues, structured exceptions, a filtered trace
facility, binary, memory and temporary-file streams, containers, a factory
loader, threads, mutexes and shared memory.

This package contains the shared library.")

set(CPACK_DEBIAN_DEV_PACKAGE_NAME libtavutil-dev)
set(CPACK_DEBIAN_DEV_PACKAGE_SECTION libdevel)
# The CMake package imports tavrc, so the catalogue function finds it: the tools come along.
set(CPACK_DEBIAN_DEV_PACKAGE_DEPENDS
    "${tavutil_runtime_package} (= ${tavutil_deb_version}), tavutil-tools (= ${tavutil_deb_version})")
set(CPACK_COMPONENT_DEV_DESCRIPTION "C++17 utility class library: development files
This package contains the headers, the CMake package (find_package(tavutil),
with tavutil_add_resource_library() for message catalogues) and the
pkg-config file.")

set(CPACK_DEBIAN_TOOLS_PACKAGE_NAME tavutil-tools)
set(CPACK_DEBIAN_TOOLS_PACKAGE_SECTION devel)
set(CPACK_COMPONENT_TOOLS_DESCRIPTION "C++17 utility class library: catalogue compiler
tavrc compiles a message catalogue (UTF-8 STRINGTABLE blocks of a resource
script) into a language resource library that tavutil's message stores read.")

# Debian wants the copyright file and the packaging changelog (compressed) of each package in
# its documentation directory. Only the packages get them: a plain install leaves them out.
file(STRINGS ${CMAKE_CURRENT_LIST_DIR}/debian/changelog tavutil_changelog_top LIMIT_COUNT 1)
if(NOT tavutil_changelog_top MATCHES "^tavutil \\(${tavutil_deb_version}\\) ")
  message(WARNING "cmake/debian/changelog does not start with version ${tavutil_deb_version}: "
                  "add an entry for it")
endif()
file(MAKE_DIRECTORY ${PROJECT_BINARY_DIR}/debian)
execute_process(COMMAND gzip -9nc ${CMAKE_CURRENT_LIST_DIR}/debian/changelog
                OUTPUT_FILE ${PROJECT_BINARY_DIR}/debian/changelog.Debian.gz COMMAND_ERROR_IS_FATAL ANY)
foreach(component lib dev tools)
  string(TOUPPER ${component} upper)
  install(FILES ${CMAKE_CURRENT_LIST_DIR}/debian/copyright
                ${PROJECT_BINARY_DIR}/debian/changelog.Debian.gz
          DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/${CPACK_DEBIAN_${upper}_PACKAGE_NAME}
          COMPONENT ${component} EXCLUDE_FROM_ALL)
endforeach()

include(CPack)

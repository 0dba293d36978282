# cmake/TavutilResources.cmake: tavutil_add_resource_library(), which builds a language
# resource library from a message catalogue with tavrc.
# Licensed under the Apache License, Version 2.0.
#
#   tavutil_add_resource_library(<target>
#       CATALOGUE <file.rc>              the catalogue: UTF-8 STRINGTABLE blocks
#       [NAME <name>]                    the library's base name, given to TMessageStorePM or
#                                        TNLSResourceDll (default: <target>)
#       [LANGUAGE <language>]            its language directory: German, de_DE, de_DE.1252...
#                                        (none: a language-neutral library)
#       [OUTPUT_DIRECTORY <dir>]         the directory of the programs that use it (default:
#                                        CMAKE_RUNTIME_OUTPUT_DIRECTORY, else the current
#                                        binary directory)
#       [INCLUDE_DIRECTORIES <dir>...]   where #include looks after the catalogue's directory
#       [DEFINITIONS <name[=value]>...]  names the catalogue can test with #ifdef / #if
#       [OPTIONS <option>...]            more tavrc options (-w: no warnings)
#       [USED_BY <target>...]            targets that need the library built before they run
#       [INSTALL_DESTINATION <dir>])     install it to <dir>/<language>/, <dir> being where the
#                                        programs that use it are installed
#
# The library is <dir>/<language>/<name><suffix> (.so, or .dll on Windows, where windres
# makes a resource-only DLL of the catalogue): the place where the default language search
# path "%E\%L\%N;%E\%N;" looks for it on behalf of a program in <dir>.

# Commands keep the policies in force where they are defined, whatever the caller's.
cmake_policy(PUSH)
cmake_policy(VERSION 3.20) # DEPFILE for custom commands with the Makefile generators

# The resource compiler for Windows targets: the toolchain's, else a windres on the path.
if(WIN32)
  if(CMAKE_RC_COMPILER)
    set(TAVUTIL_WINDRES ${CMAKE_RC_COMPILER} CACHE FILEPATH "windres for resource DLLs")
  else()
    find_program(TAVUTIL_WINDRES NAMES ${CMAKE_CXX_LIBRARY_ARCHITECTURE}-windres windres)
  endif()
endif()

function(tavutil_add_resource_library target)
  cmake_parse_arguments(PARSE_ARGV 1 arg ""
                        "CATALOGUE;NAME;LANGUAGE;OUTPUT_DIRECTORY;INSTALL_DESTINATION"
                        "INCLUDE_DIRECTORIES;DEFINITIONS;OPTIONS;USED_BY")
  if(arg_UNPARSED_ARGUMENTS)
    message(FATAL_ERROR
            "tavutil_add_resource_library(${target}): unknown arguments ${arg_UNPARSED_ARGUMENTS}")
  endif()
  if(NOT arg_CATALOGUE)
    message(FATAL_ERROR "tavutil_add_resource_library(${target}): CATALOGUE is required")
  endif()
  if(WIN32 AND NOT TAVUTIL_WINDRES)
    message(FATAL_ERROR "tavutil_add_resource_library(${target}): windres is not available")
  elseif(NOT WIN32 AND NOT TARGET tavutil::tavrc)
    message(FATAL_ERROR "tavutil_add_resource_library(${target}): tavrc is not available")
  endif()
  if(NOT arg_NAME)
    set(arg_NAME ${target})
  endif()
  if(NOT arg_OUTPUT_DIRECTORY)
    if(CMAKE_RUNTIME_OUTPUT_DIRECTORY)
      set(arg_OUTPUT_DIRECTORY ${CMAKE_RUNTIME_OUTPUT_DIRECTORY})
    else()
      set(arg_OUTPUT_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR})
    endif()
  endif()
  cmake_path(ABSOLUTE_PATH arg_CATALOGUE BASE_DIRECTORY ${CMAKE_CURRENT_SOURCE_DIR} NORMALIZE)
  cmake_path(ABSOLUTE_PATH arg_OUTPUT_DIRECTORY BASE_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR}
             NORMALIZE)

  set(directory ${arg_OUTPUT_DIRECTORY})
  if(arg_LANGUAGE)
    string(APPEND directory "/${arg_LANGUAGE}")
  endif()

  if(WIN32)
    # Windows has string resources of its own: windres compiles the catalogue (a resource
    # script) into a resource-only DLL, which LoadStringW reads. tavrc's OPTIONS do not apply.
    set(rc_options)
    foreach(directory_option IN LISTS arg_INCLUDE_DIRECTORIES)
      cmake_path(ABSOLUTE_PATH directory_option BASE_DIRECTORY ${CMAKE_CURRENT_SOURCE_DIR}
                 NORMALIZE)
      list(APPEND rc_options -I ${directory_option})
    endforeach()
    foreach(definition IN LISTS arg_DEFINITIONS)
      list(APPEND rc_options -D ${definition})
    endforeach()
    set(resources ${CMAKE_CURRENT_BINARY_DIR}/tavrc/${target}.res.obj)
    add_custom_command(
      OUTPUT ${resources}
      COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_CURRENT_BINARY_DIR}/tavrc
      COMMAND ${TAVUTIL_WINDRES} -c 65001 ${rc_options} -i ${arg_CATALOGUE} -o ${resources}
      DEPENDS ${arg_CATALOGUE}
      COMMENT "Compiling message catalogue ${arg_CATALOGUE}"
      VERBATIM)
    add_library(${target} MODULE ${resources})
    # No code at all: no run-time library and no entry point.
    set_target_properties(${target} PROPERTIES LINKER_LANGUAGE CXX)
    target_link_options(${target} PRIVATE -nostdlib -Wl,-e,0)
  else()
    set(options ${arg_OPTIONS})
    foreach(directory_option IN LISTS arg_INCLUDE_DIRECTORIES)
      cmake_path(ABSOLUTE_PATH directory_option BASE_DIRECTORY ${CMAKE_CURRENT_SOURCE_DIR}
                 NORMALIZE)
      list(APPEND options -I ${directory_option})
    endforeach()
    foreach(definition IN LISTS arg_DEFINITIONS)
      list(APPEND options -D ${definition})
    endforeach()
    set(table ${CMAKE_CURRENT_BINARY_DIR}/tavrc/${target}.cpp)
    set(depfile ${CMAKE_CURRENT_BINARY_DIR}/tavrc/${target}.d)
    add_custom_command(
      OUTPUT ${table}
      COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_CURRENT_BINARY_DIR}/tavrc
      COMMAND tavutil::tavrc ${options} -o ${table} --depfile ${depfile} ${arg_CATALOGUE}
      DEPENDS ${arg_CATALOGUE} tavutil::tavrc
      DEPFILE ${depfile}
      COMMENT "Compiling message catalogue ${arg_CATALOGUE}"
      VERBATIM)
    add_library(${target} MODULE ${table})
    target_compile_features(${target} PRIVATE cxx_std_11)
  endif()
  # The generator expression keeps multi-configuration generators from adding a
  # configuration directory: the library must sit exactly where the search path looks.
  set_target_properties(${target} PROPERTIES
    PREFIX ""
    OUTPUT_NAME ${arg_NAME}
    LIBRARY_OUTPUT_DIRECTORY "$<1:${directory}>")
  foreach(user IN LISTS arg_USED_BY)
    add_dependencies(${user} ${target})
  endforeach()
  if(arg_INSTALL_DESTINATION)
    set(destination ${arg_INSTALL_DESTINATION})
    if(arg_LANGUAGE)
      string(APPEND destination "/${arg_LANGUAGE}")
    endif()
    install(TARGETS ${target} LIBRARY DESTINATION ${destination})
  endif()
endfunction()

cmake_policy(POP)

# SPDX-License-Identifier: GPL-3.0-or-later
# Libraries loaded on demand (platform/base/OnDemand.h): where the platform
# loads shared libraries by name, KIV_ON_DEMAND is set and kiv_soname gives
# the name a library is loaded by, read from the library the build finds.
if(CMAKE_SYSTEM_NAME STREQUAL "Linux")
  set(KIV_ON_DEMAND ON)
endif()

# kiv_soname(VAR LIBRARY_FILE): the soname of the shared library file.
function(kiv_soname var file)
  execute_process(COMMAND ${CMAKE_OBJDUMP} -p ${file} OUTPUT_VARIABLE headers)
  string(REGEX MATCH "SONAME +([^ \n]+)" found "${headers}")
  if(NOT CMAKE_MATCH_1)
    message(FATAL_ERROR "No soname found in ${file}")
  endif()
  set(${var} ${CMAKE_MATCH_1} PARENT_SCOPE)
endfunction()

# kiv_debian_package(VAR SONAME): the Debian package of a library by its
# soname (libzip.so.4: libzip4, libpng16.so.16: libpng16-16).
function(kiv_debian_package var soname)
  string(REGEX REPLACE "^(lib.*)\\.so\\.([0-9]+)$" "\\1;\\2" parts ${soname})
  list(GET parts 0 name)
  list(GET parts 1 version)
  if(name MATCHES "[0-9]$")
    set(${var} ${name}-${version} PARENT_SCOPE)
  else()
    set(${var} ${name}${version} PARENT_SCOPE)
  endif()
endfunction()

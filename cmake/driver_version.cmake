# The program registers drivers with the version it was built with, and tells
# installed versions from the DriverVer of the INF it ships: a build where the
# two differ stops here, before anything is compiled.
# In script mode (cmake -DVERSION_HEADER=... -DSHIPPED_INF=... -P) it checks
# the two files named.
if(CMAKE_SCRIPT_MODE_FILE)
  set(version_header ${VERSION_HEADER})
  set(shipped_inf ${SHIPPED_INF})
else()
  set(version_header ${CMAKE_SOURCE_DIR}/install/register_printer.h)
  set(shipped_inf ${CMAKE_SOURCE_DIR}/tools/fixtures/testpackage/vlm6v6.inf)
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${version_header} ${shipped_inf})
endif()

# "2025.08.22.1" and "2025.8.22.1" are one version: four numbers, compared as numbers.
function(version_numbers text out)
  string(REPLACE "." ";" parts "${text}")
  set(numbers "")
  foreach(part ${parts})
    math(EXPR number "${part}")
    list(APPEND numbers ${number})
  endforeach()
  set(${out} "${numbers}" PARENT_SCOPE)
endfunction()

file(STRINGS ${version_header} build_line REGEX "DRIVER_BUILD_VERSION\\[\\] = ")
string(REGEX MATCH "\"([0-9.]+)\"" found "${build_line}")
set(build_version "${CMAKE_MATCH_1}")
file(STRINGS ${shipped_inf} inf_line REGEX "^DriverVer[ \t]*=")
string(REGEX MATCH ",[ \t]*([0-9.]+)" found "${inf_line}")
set(inf_version "${CMAKE_MATCH_1}")
if(build_version STREQUAL "" OR inf_version STREQUAL "")
  message(FATAL_ERROR "The driver version cannot be read: '${build_version}' in ${version_header}, "
                      "'${inf_version}' in ${shipped_inf}")
endif()
version_numbers(${build_version} build_numbers)
version_numbers(${inf_version} inf_numbers)
if(NOT build_numbers STREQUAL inf_numbers)
  message(FATAL_ERROR "The driver version ${build_version} (install/register_printer.h) differs from the "
                      "shipped INF's DriverVer ${inf_version}: make them one.")
endif()

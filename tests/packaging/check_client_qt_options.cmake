# cmake -DPROGRAM=<krt-client> -P check_client_qt_options.cmake
# Qt's own one-dash options reach Qt: "-reverse --help-all" prints the full help, Qt's options
# included, instead of "-reverse" being read as -r -e -v ... and answered with the version.
cmake_minimum_required(VERSION 3.24)
execute_process(COMMAND ${PROGRAM} -reverse --help-all
                RESULT_VARIABLE status OUTPUT_VARIABLE output ERROR_VARIABLE errors TIMEOUT 20)
if(NOT status STREQUAL "0")
  message(FATAL_ERROR "${PROGRAM} -reverse --help-all: exit status ${status}\n${errors}")
endif()
foreach(expected IN ITEMS "--log-dir" "-platform")
  string(FIND "${output}" "${expected}" found)
  if(found EQUAL -1)
    message(FATAL_ERROR "${PROGRAM} -reverse --help-all did not list ${expected}:\n${output}")
  endif()
endforeach()

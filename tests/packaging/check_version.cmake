# cmake -DPROGRAM=<path> -DEXPECTED=<text> -P check_version.cmake
# Passes when `PROGRAM --version` exits 0 and prints exactly one line, EXPECTED.
cmake_minimum_required(VERSION 3.24)
execute_process(COMMAND ${PROGRAM} --version
                RESULT_VARIABLE status OUTPUT_VARIABLE output ERROR_VARIABLE errors TIMEOUT 20)
if(NOT status STREQUAL "0")
  message(FATAL_ERROR "${PROGRAM} --version: exit status ${status}\n${errors}")
endif()
if(NOT output STREQUAL "${EXPECTED}\n")
  message(FATAL_ERROR "${PROGRAM} --version printed\n[${output}]\ninstead of\n[${EXPECTED}]")
endif()

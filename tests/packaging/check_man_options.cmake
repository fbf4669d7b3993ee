# cmake -DPROGRAM=<path> -DMAN_PAGE=<page.1.scd> -P check_man_options.cmake
# Passes when the options and the commands that the man page lists are exactly those that
cmake_minimum_required(VERSION 3.24)
# `PROGRAM --help` lists. An option line starts with its names: in the man page a line like
# "*-h*, *--help*", in the help a line like "  -h, --help  ..." or "  --port UINT ...".
# A command is a "## name ..." heading in the man page and, in the help, a line with only
# its name after "Subcommands:".

# The option names ("-h", "--log-dir") at the start of each line that begins with one.
function(option_names_at_line_starts text line_prefix out)
  set(names)
  string(REPLACE ";" "," text "${text}")
  string(REPLACE "\n" ";" lines "${text}")
  foreach(line IN LISTS lines)
    if(line MATCHES "^${line_prefix}-")
      # The names stand before the first blank that is not after a comma.
      string(REGEX REPLACE "^(${line_prefix}[^ ,]+(, *[^ ,]+)*).*" "\\1" head "${line}")
      string(REGEX MATCHALL "--?[A-Za-z0-9][-A-Za-z0-9]*" found "${head}")
      list(APPEND names ${found})
    endif()
  endforeach()
  list(REMOVE_DUPLICATES names)
  list(SORT names)
  set(${out} "${names}" PARENT_SCOPE)
endfunction()

# The command names: "## name" headings of the man page, or the help's unindented one-word
# lines after "Subcommands:".
function(command_names text kind out)
  set(names)
  if(kind STREQUAL "page")
    string(REGEX MATCHALL "\n## [a-z][-a-z]*" headings "${text}")
    string(REPLACE "\n## " "" names "${headings}")
  else()
    string(FIND "${text}" "\nSubcommands:\n" start)
    if(start GREATER -1)
      string(SUBSTRING "${text}" ${start} -1 text)
      string(REGEX MATCHALL "\n[a-z][-a-z]*\n" lines "${text}")
      string(REPLACE "\n" "" names "${lines}")
    endif()
  endif()
  list(SORT names)
  set(${out} "${names}" PARENT_SCOPE)
endfunction()

execute_process(COMMAND ${PROGRAM} --help
                RESULT_VARIABLE status OUTPUT_VARIABLE help ERROR_VARIABLE errors TIMEOUT 20)
if(NOT status STREQUAL "0")
  message(FATAL_ERROR "${PROGRAM} --help: exit status ${status}\n${errors}")
endif()
file(READ ${MAN_PAGE} page)

option_names_at_line_starts("${help}" " +" from_help)
option_names_at_line_starts("${page}" "\\*" from_page)
if(NOT from_help)
  message(FATAL_ERROR "no options found in the help of ${PROGRAM}:\n${help}")
endif()

command_names("${help}" help commands_in_help)
command_names("${page}" page commands_in_page)
if(NOT commands_in_help STREQUAL commands_in_page)
  message(FATAL_ERROR "${MAN_PAGE} and ${PROGRAM} --help list different commands:\n"
                      "  man page: ${commands_in_page}\n  help: ${commands_in_help}")
endif()

set(missing_in_page ${from_help})
list(REMOVE_ITEM missing_in_page ${from_page})
set(unknown_to_program ${from_page})
list(REMOVE_ITEM unknown_to_program ${from_help})
if(missing_in_page OR unknown_to_program)
  message(FATAL_ERROR "${MAN_PAGE} and ${PROGRAM} --help differ:\n"
                      "  not in the man page: ${missing_in_page}\n"
                      "  not known to the program: ${unknown_to_program}")
endif()
message(STATUS "${MAN_PAGE}: ${from_page} ${commands_in_page}")

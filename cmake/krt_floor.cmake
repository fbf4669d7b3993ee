# krt_floor(NAME DIR folder [FLOORS floor...] [LIBS lib...] [EXTRA_SOURCES file...])
# Makes the static library krt_NAME of the *.cpp (and, for moc, *.h) files in src/<folder>
# (not its subfolders), linked to the libraries of the floors it may include and to LIBS.
# A check that runs before the library is compiled fails the build when one of the folder's
# files includes a folder of src/ that is not the folder itself nor one of its floors' folders.
set(KRT_FLOOR_CHECK ${CMAKE_CURRENT_LIST_DIR}/check_floor_includes.cmake)

function(krt_floor name)
  cmake_parse_arguments(ARG "" "DIR" "FLOORS;LIBS;EXTRA_SOURCES" ${ARGN})
  set(folder ${CMAKE_CURRENT_SOURCE_DIR}/${ARG_DIR})
  file(GLOB sources CONFIGURE_DEPENDS ${folder}/*.cpp)
  file(GLOB headers CONFIGURE_DEPENDS ${folder}/*.h)
  list(FILTER sources EXCLUDE REGEX "_main\\.cpp$")

  # The folders this floor may include: its own and, through its floors, theirs.
  set(allowed ${ARG_DIR})
  foreach(floor IN LISTS ARG_FLOORS)
    get_property(floor_folders GLOBAL PROPERTY krt_floor_folders_${floor})
    if(NOT floor_folders)
      message(FATAL_ERROR "floor ${name}: floor ${floor} is not defined before it")
    endif()
    list(APPEND allowed ${floor_folders})
  endforeach()
  list(REMOVE_DUPLICATES allowed)
  set_property(GLOBAL PROPERTY krt_floor_folders_${name} ${allowed})

  set(stamp ${CMAKE_CURRENT_BINARY_DIR}/floor_${name}.checked)
  add_custom_command(
    OUTPUT ${stamp}
    COMMAND ${CMAKE_COMMAND} "-DFLOOR=${name}" "-DALLOWED=${allowed}"
            "-DFILES=${sources};${headers}" "-DSTAMP=${stamp}" -P ${KRT_FLOOR_CHECK}
    DEPENDS ${sources} ${headers} ${KRT_FLOOR_CHECK}
    COMMENT "Checking the includes of floor ${name}"
    VERBATIM)
  add_custom_target(krt_${name}_includes DEPENDS ${stamp})

  add_library(krt_${name} STATIC ${sources} ${headers} ${ARG_EXTRA_SOURCES})
  add_dependencies(krt_${name} krt_${name}_includes)
  target_include_directories(krt_${name} PUBLIC ${CMAKE_CURRENT_SOURCE_DIR})
  list(TRANSFORM ARG_FLOORS PREPEND krt_ OUTPUT_VARIABLE floor_libs)
  target_link_libraries(krt_${name} PUBLIC ${floor_libs} ${ARG_LIBS})
  # Widget floors share krt_common_ui's precompiled header, window-free ones krt_protocol's.
  if(ARG_DIR MATCHES "/ui$")
    if(name STREQUAL "common_ui")
      target_precompile_headers(krt_${name} PRIVATE ${KRT_PCH_STD} ${KRT_PCH_QT})
    else()
      target_precompile_headers(krt_${name} REUSE_FROM krt_common_ui)
    endif()
  else()
    set_target_properties(krt_${name} PROPERTIES AUTOMOC OFF AUTORCC OFF)
    if(name STREQUAL "protocol")
      target_precompile_headers(krt_${name} PRIVATE ${KRT_PCH_STD})
    else()
      target_precompile_headers(krt_${name} REUSE_FROM krt_protocol)
    endif()
  endif()
endfunction()

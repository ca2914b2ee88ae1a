# cmake -DSOURCE_DIR=<tree> -P CheckLayers.cmake
# Fails when a file includes a header from a folder its own folder may not use: the
# libraries point down the layout table only, and nothing but the program's own folder
# (and its tests) includes app/. The table below is the rule; CONTRIBUTING.md states it.
#
# cmake -DSOURCE_DIR=<tree> -DSELF_TEST=<scratch dir> -P CheckLayers.cmake
# Writes a tree with one wrong include into the scratch folder and fails unless the check
# refuses it and names the file, so the check itself is known to bite.
cmake_minimum_required(VERSION 3.25)

set(libraries base platform comm programmer window storage ui cli)
set(uses_base base)
set(uses_platform platform)
set(uses_comm base platform comm)
set(uses_programmer base platform comm programmer)
set(uses_window base platform window)
set(uses_storage base platform window storage)
set(uses_ui base platform comm programmer window storage ui)
set(uses_cli base platform comm programmer cli)
set(uses_app ${libraries} app)
# Programs and tests beside the product use any library, never the program's own folder.
set(uses_tools ${libraries} tools)
set(uses_bench ${libraries} tools bench)
set(uses_tests ${libraries} tools tests)
set(uses_tests/app ${uses_tests} app)
set(checked base platform comm programmer window storage ui cli app tools bench tests/app tests)
set(known ${libraries} app tools bench tests)

if(DEFINED SELF_TEST)
  file(REMOVE_RECURSE ${SELF_TEST})
  file(WRITE ${SELF_TEST}/storage/Placemnt.h "#pragma once\n#include \"window/Form.h\"\n")
  file(WRITE ${SELF_TEST}/storage/Bad.h "#pragma once\n#include \"ui/fMain.h\"\n")
  file(WRITE ${SELF_TEST}/tests/app/tst_main.cpp "#include \"app/PlatformChoice.h\"\n")
  execute_process(COMMAND ${CMAKE_COMMAND} -DSOURCE_DIR=${SELF_TEST} -P ${CMAKE_CURRENT_LIST_FILE}
    RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE out)
  if(rc EQUAL 0)
    message(FATAL_ERROR "the check let storage/Bad.h include ui/ through:\n${out}")
  endif()
  if(NOT out MATCHES "storage/Bad.h: #include \"ui/fMain.h\" \\(storage/ may not use ui/\\)" OR out MATCHES "Placemnt|tst_main")
    message(FATAL_ERROR "the check named the wrong files:\n${out}")
  endif()
  message(STATUS "a wrong include is refused: ${out}")
  return()
endif()

set(faults "")
set(seen "")
foreach(folder IN LISTS checked)
  file(GLOB_RECURSE files RELATIVE ${SOURCE_DIR}
    ${SOURCE_DIR}/${folder}/*.h ${SOURCE_DIR}/${folder}/*.cpp)
  foreach(file IN LISTS files)
    if(file IN_LIST seen)
      continue() # a deeper folder listed first (tests/app) has its own rule
    endif()
    list(APPEND seen ${file})
    file(STRINGS ${SOURCE_DIR}/${file} lines REGEX "^[ \t]*#[ \t]*include[ \t]*\"")
    foreach(line IN LISTS lines)
      string(REGEX MATCH "\"([a-z_-]+)/" match "${line}")
      if(NOT match)
        continue()
      endif()
      set(target ${CMAKE_MATCH_1})
      if(target IN_LIST known AND NOT target IN_LIST uses_${folder})
        string(STRIP "${line}" line)
        string(APPEND faults "  ${file}: ${line} (${folder}/ may not use ${target}/)\n")
      endif()
    endforeach()
  endforeach()
endforeach()

if(faults)
  message(FATAL_ERROR "includes against the layers (see CONTRIBUTING.md, Layout):\n${faults}")
endif()
list(LENGTH seen count)
message(STATUS "${count} files, every include points down")

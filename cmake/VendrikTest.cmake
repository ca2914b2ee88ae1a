# vendrik_add_test(<name> LABEL <folder> SOURCES <files...> LIBS <libs...> [TIMEOUT <s>] [LONG])
# Registers a Qt Test executable with CTest, labelled with its folder.
# LONG marks tests whose duration is set by the device's fixed waits; the
# sanitizer passes leave them out.

# The slowest tests, slowest first. ctest starts them first (highest COST), so that a
# parallel run does not end waiting on one that happened to start last; a fresh tree has
# no measured costs of its own.
set(VENDRIK_SLOW_TESTS tst_fullwrite_long tst_clitransfers tst_readrun_e2e tst_renderwindows
  tst_frameprotocol tst_clioutcomes tst_cliganglifetime tst_faultmatrix tst_writerun_e2e
  tst_userregistry)

function(vendrik_add_test name)
  cmake_parse_arguments(T "LONG" "LABEL;TIMEOUT" "SOURCES;LIBS" ${ARGN})
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 120)
  endif()
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE ${T_LIBS} vendrik_testsupport Qt6::Test)
  add_test(NAME ${name} COMMAND ${name})
  set(labels ${T_LABEL})
  if(T_LONG)
    list(APPEND labels long)
  endif()
  set_tests_properties(${name} PROPERTIES
    LABELS "${labels}"
    TIMEOUT ${T_TIMEOUT}
    ENVIRONMENT "QT_QPA_PLATFORM=offscreen;QT_LOGGING_RULES=qt.qpa.*=false;TSAN_OPTIONS=suppressions=${CMAKE_SOURCE_DIR}/tests/tsan.supp halt_on_error=1 second_deadlock_stack=1;ASAN_OPTIONS=detect_leaks=1:abort_on_error=1;UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1;LSAN_OPTIONS=suppressions=${CMAKE_SOURCE_DIR}/tests/lsan.supp")
  list(FIND VENDRIK_SLOW_TESTS ${name} slow)
  if(slow GREATER -1)
    list(LENGTH VENDRIK_SLOW_TESTS count)
    math(EXPR cost "1000 + 100 * (${count} - ${slow})")
    set_tests_properties(${name} PROPERTIES COST ${cost})
  endif()
endfunction()

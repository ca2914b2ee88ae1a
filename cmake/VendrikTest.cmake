# vendrik_add_test(<name> LABEL <folder> SOURCES <files...> LIBS <libs...> [TIMEOUT <s>] [LONG])
# Registers a Qt Test executable with CTest, labelled with its folder.
# LONG marks tests whose duration is set by the device's fixed waits; the
# sanitizer passes leave them out.
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
endfunction()

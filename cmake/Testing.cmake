# rirudez_add_gtest(<name> LABEL <labels...> SOURCES <files...> LIBS <targets...> [ENV <k=v>...]
#                   [LAUNCHER <command...>])
# One test executable, its cases discovered by CTest when the tests run (not at build time),
# labelled per library so `ctest -L bridgekit` runs one library's tests. LAUNCHER runs each case through a
# command (e.g. scripts/dnssd-netns, which gives it a private network).
set(RIRUDEZ_LSAN_SUPPRESSIONS ${CMAKE_CURRENT_LIST_DIR}/lsan.supp)

function(rirudez_add_gtest name)
  cmake_parse_arguments(T "" "TIMEOUT" "LABEL;SOURCES;LIBS;ENV;LAUNCHER" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gtest GTest::gmock GTest::gtest_main)
  rirudez_set_warnings(${name})
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 120)
  endif()
  # The test environment goes through `env` as the test's launcher: gtest_discover_tests flattens an
  # ENVIRONMENT property list into separate arguments, so only its first variable would reach the tests.
  set(launcher env QT_QPA_PLATFORM=offscreen LSAN_OPTIONS=suppressions=${RIRUDEZ_LSAN_SUPPRESSIONS}
      ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 ${T_ENV} ${T_LAUNCHER})
  set_target_properties(${name} PROPERTIES CROSSCOMPILING_EMULATOR "${launcher}")
  gtest_discover_tests(${name}
    DISCOVERY_MODE PRE_TEST
    DISCOVERY_TIMEOUT 60
    PROPERTIES TIMEOUT ${T_TIMEOUT})
  # Labels are set after discovery, from the list of cases it leaves in <name>_TESTS: passed through
  # PROPERTIES, a list of labels ("codingharness;soak") is flattened and only its first label survives.
  set(labels_file ${CMAKE_CURRENT_BINARY_DIR}/${name}_labels.cmake)
  file(CONFIGURE OUTPUT ${labels_file} CONTENT [=[
foreach(test IN LISTS @name@_TESTS)
  set_tests_properties("${test}" PROPERTIES LABELS "@T_LABEL@")
endforeach()
]=] @ONLY)
  set_property(DIRECTORY APPEND PROPERTY TEST_INCLUDE_FILES ${labels_file})
endfunction()

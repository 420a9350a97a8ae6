# lf_add_test(NAME name SOURCES ... LIBS ... [LABELS ...] [TIMEOUT s])
#   One GoogleTest program per call; its tests are discovered when ctest runs.
# lf_add_test(NAME name COMMAND command args... [LABELS ...] [TIMEOUT s])
#   One ctest test that runs a command (a fuzzer script); nothing is built.
# The one way to register a test, slow ones included: LABELS slow marks a test that `ctest -LE slow`
# leaves out, LABELS no-asan one that the sanitizer configuration does not build or run at all.
# Every test process runs with a private configuration and data folder (see
# tests/support/test_main.cpp) and the offscreen Qt platform. The property list of discovered tests
# is flat (name, value, name, value...), so no value may hold a ";" or the pairs shift and LABELS and
# TIMEOUT are lost; only the first label reaches them, and the corpus folder reaches the tests as a
# compile definition instead.
include(GoogleTest)
find_package(GTest REQUIRED)

function(lf_add_test)
  cmake_parse_arguments(T "" "NAME;TIMEOUT" "SOURCES;LIBS;LABELS;COMMAND" ${ARGN})
  # Tests that cannot run under the sanitizers are not built in that configuration at all, so the
  # sanitizer run needs no label selection to leave them out.
  if(LF_SANITIZE AND "no-asan" IN_LIST T_LABELS)
    return()
  endif()
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 300)
  endif()
  if(T_COMMAND)
    add_test(NAME ${T_NAME} COMMAND ${T_COMMAND})
    set_tests_properties(
      ${T_NAME} PROPERTIES LABELS "${T_LABELS}" TIMEOUT ${T_TIMEOUT} ENVIRONMENT "QT_QPA_PLATFORM=offscreen")
    return()
  endif()
  add_executable(${T_NAME} ${T_SOURCES})
  target_link_libraries(${T_NAME} PRIVATE lf_test_support ${T_LIBS})
  # Only one label reaches tests discovered at test time; "slow" is the one ctest -L selects by.
  set(labels "")
  if(T_LABELS)
    list(GET T_LABELS 0 labels)
  endif()
  gtest_discover_tests(
    ${T_NAME}
    DISCOVERY_MODE PRE_TEST
    DISCOVERY_TIMEOUT 60
    PROPERTIES ENVIRONMENT "QT_QPA_PLATFORM=offscreen" TIMEOUT ${T_TIMEOUT} LABELS "${labels}")
endfunction()

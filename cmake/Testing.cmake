# lf_add_test(NAME name SOURCES ... LIBS ... [LABELS ...] [TIMEOUT s])
# One GoogleTest program per call. Every test process runs with a private configuration and data
# folder (see tests/support/test_main.cpp) and the offscreen Qt platform. The property list is flat
# (name, value, name, value...), so no value may hold a ";" or the pairs shift and LABELS and TIMEOUT
# are lost; the corpus folder reaches the tests as a compile definition instead.
include(GoogleTest)
find_package(GTest REQUIRED)

function(lf_add_test)
  cmake_parse_arguments(T "" "NAME;TIMEOUT" "SOURCES;LIBS;LABELS" ${ARGN})
  # Tests that cannot run under the sanitizers are not built in that configuration at all, so the
  # sanitizer run needs no label selection to leave them out.
  if(LF_SANITIZE AND "no-asan" IN_LIST T_LABELS)
    return()
  endif()
  add_executable(${T_NAME} ${T_SOURCES})
  target_link_libraries(${T_NAME} PRIVATE lf_test_support ${T_LIBS})
  # Only one label reaches tests discovered at test time; "slow" is the one ctest -L selects by.
  set(labels "")
  if(T_LABELS)
    list(GET T_LABELS 0 labels)
  endif()
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 300)
  endif()
  gtest_discover_tests(${T_NAME}
    DISCOVERY_MODE PRE_TEST
    DISCOVERY_TIMEOUT 60
    PROPERTIES ENVIRONMENT "QT_QPA_PLATFORM=offscreen"
               TIMEOUT ${T_TIMEOUT}
               LABELS "${labels}")
endfunction()

# lf_add_test(NAME name SOURCES ... LIBS ... [LABELS ...] [TIMEOUT s])
# One GoogleTest program per call. Every test process runs with a private configuration and data
# folder (see tests/support/test_main.cpp) and the offscreen Qt platform.
include(GoogleTest)
find_package(GTest REQUIRED)

function(lf_add_test)
  cmake_parse_arguments(T "" "NAME;TIMEOUT" "SOURCES;LIBS;LABELS" ${ARGN})
  add_executable(${T_NAME} ${T_SOURCES})
  target_link_libraries(${T_NAME} PRIVATE lf_test_support ${T_LIBS})
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 300)
  endif()
  gtest_discover_tests(${T_NAME}
    DISCOVERY_MODE PRE_TEST
    DISCOVERY_TIMEOUT 60
    PROPERTIES ENVIRONMENT "QT_QPA_PLATFORM=offscreen;LF_CORPUS_DIR=${LF_CORPUS_DIR}"
               TIMEOUT ${T_TIMEOUT}
               LABELS "${T_LABELS}")
endfunction()

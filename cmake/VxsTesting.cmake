# vxs_add_gtest(NAME SOURCES src... [LIBS lib...] [CONCURRENCY])
#
# Builds one GoogleTest executable and registers each of its tests with CTest.
# CONCURRENCY marks suites that the test script also runs under ThreadSanitizer;
# in a ThreadSanitizer build only those are built and registered (the others
# still exist as targets, left out of "all", so that folders may set their
# properties unconditionally).
include(GoogleTest)
find_package(GTest REQUIRED)

function(vxs_add_gtest name)
  cmake_parse_arguments(ARG "CONCURRENCY" "" "SOURCES;LIBS" ${ARGN})
  set(is_tsan FALSE)
  if(VXS_SANITIZE MATCHES "thread")
    set(is_tsan TRUE)
  endif()
  if(is_tsan AND NOT ARG_CONCURRENCY)
    add_executable(${name} EXCLUDE_FROM_ALL ${ARG_SOURCES})
    target_link_libraries(${name} PRIVATE ${ARG_LIBS} vxs_internal GTest::gtest GTest::gmock GTest::gtest_main)
    return()
  endif()
  add_executable(${name} ${ARG_SOURCES})
  vxs_target_warnings(${name})
  target_link_libraries(${name} PRIVATE ${ARG_LIBS} vxs_internal GTest::gtest GTest::gmock GTest::gtest_main)
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR}/tests)
  # One label per suite: gtest_discover_tests splits a list-valued LABELS
  # into separate property arguments (which also drops the TIMEOUT).
  set(labels unit)
  if(ARG_CONCURRENCY)
    set(labels concurrency)
  endif()
  gtest_discover_tests(${name}
    DISCOVERY_MODE PRE_TEST
    PROPERTIES LABELS "${labels}" TIMEOUT 300
    WORKING_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR})
endfunction()

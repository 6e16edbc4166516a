# vxs_add_gtest(NAME SOURCES src... [LIBS lib...] [CONCURRENCY] [LABEL label])
#
# Builds one GoogleTest executable and registers each of its tests with CTest.
# CONCURRENCY marks suites that the test script also runs under ThreadSanitizer;
# in a ThreadSanitizer build only those are built and registered (the others
# still exist as targets, left out of "all", so that folders may set their
# properties unconditionally). LABEL replaces the default CTest label "unit"
# (for example "e2e" for suites that talk to the reference service, so that
# `ctest -L e2e` runs them alone).
include(GoogleTest)
find_package(GTest REQUIRED)

# GoogleTest and GoogleMock are parsed once per build tree: every suite reuses
# one precompiled header (the compiler falls back to the plain headers if a
# suite's flags ever make it unusable).
if(NOT TARGET vxs_gtest_pch)
  # An executable, so that the header is compiled with the suites' own flags.
  add_executable(vxs_gtest_pch EXCLUDE_FROM_ALL ${CMAKE_CURRENT_LIST_DIR}/gtest_pch.cpp)
  target_link_libraries(vxs_gtest_pch PRIVATE GTest::gtest GTest::gmock GTest::gtest_main)
  target_precompile_headers(vxs_gtest_pch PRIVATE <gtest/gtest.h> <gmock/gmock.h> <string> <vector>)
endif()

function(vxs_use_gtest_pch target)
  target_precompile_headers(${target} REUSE_FROM vxs_gtest_pch)
endfunction()

function(vxs_add_gtest name)
  cmake_parse_arguments(ARG "CONCURRENCY" "LABEL" "SOURCES;LIBS" ${ARGN})
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
  vxs_use_gtest_pch(${name})
  vxs_target_warnings(${name})
  target_link_libraries(${name} PRIVATE ${ARG_LIBS} vxs_internal GTest::gtest GTest::gmock GTest::gtest_main)
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR}/tests)
  # One label per suite: gtest_discover_tests splits a list-valued LABELS
  # into separate property arguments (which also drops the TIMEOUT).
  set(labels unit)
  if(ARG_CONCURRENCY)
    set(labels concurrency)
  endif()
  if(ARG_LABEL)
    set(labels ${ARG_LABEL})
  endif()
  gtest_discover_tests(${name}
    DISCOVERY_MODE PRE_TEST
    PROPERTIES LABELS "${labels}" TIMEOUT 300
    WORKING_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR})
endfunction()

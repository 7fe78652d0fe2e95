# velmar_add_test(name SOURCES a.cpp ... LIBS lib ...): one GoogleTest executable per
# test file, registered with CTest test by test.
find_package(GTest REQUIRED)
include(GoogleTest)

function(velmar_add_test name)
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_LIBS} velmar_flags GTest::gtest GTest::gtest_main)
  target_compile_definitions(${name} PRIVATE
    VELMAR_TEST_DATA_DIR="${PROJECT_SOURCE_DIR}/tests/data")
  gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60)
endfunction()

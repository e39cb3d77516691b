# Small helpers shared by every folder's CMakeLists.

# Warnings for the project's own targets (not for third-party code).
function(dm_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic)
endfunction()

# dm_library(NAME SOURCES ... [DEPS ...]): a static library whose headers are
# included as "folder/header.h" from src/.
function(dm_library name)
  cmake_parse_arguments(ARG "" "" "SOURCES;DEPS" ${ARGN})
  add_library(${name} STATIC ${ARG_SOURCES})
  target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR}/src)
  if(ARG_DEPS)
    target_link_libraries(${name} PUBLIC ${ARG_DEPS})
  endif()
  dm_warnings(${name})
endfunction()

# dm_gtest(NAME SOURCES ... DEPS ...): a GoogleTest executable registered with ctest.
# Tests find their sample files through DM_TEST_DATA.
function(dm_gtest name)
  cmake_parse_arguments(ARG "" "" "SOURCES;DEPS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_DEPS} GTest::gtest GTest::gtest_main GTest::gmock)
  target_compile_definitions(${name} PRIVATE
    DM_TEST_DATA="${PROJECT_SOURCE_DIR}/tests/data"
    DM_SOURCE_DIR="${PROJECT_SOURCE_DIR}"
    DM_BIN_DIR="${CMAKE_RUNTIME_OUTPUT_DIRECTORY}")
  dm_warnings(${name})
  include(GoogleTest)
  # No test looks at the machine's own serial ports and USB adapters.
  gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60
    PROPERTIES ENVIRONMENT "QT_QPA_PLATFORM=offscreen;DOSIMETER_ADAPTERS_ROOT=${PROJECT_BINARY_DIR}/no-adapters")
endfunction()

# dm_qtest(NAME SOURCES ... DEPS ...): a Qt Test executable run on the offscreen platform.
function(dm_qtest name)
  cmake_parse_arguments(ARG "" "" "SOURCES;DEPS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_DEPS} Qt6::Test)
  target_compile_definitions(${name} PRIVATE
    DM_TEST_DATA="${PROJECT_SOURCE_DIR}/tests/data"
    DM_SOURCE_DIR="${PROJECT_SOURCE_DIR}"
    DM_BIN_DIR="${CMAKE_RUNTIME_OUTPUT_DIRECTORY}")
  dm_warnings(${name})
  add_test(NAME ${name} COMMAND ${name})
  set_tests_properties(${name} PROPERTIES ENVIRONMENT
    "QT_QPA_PLATFORM=offscreen;DOSIMETER_ADAPTERS_ROOT=${PROJECT_BINARY_DIR}/no-adapters")
endfunction()

# dm_benchmark(NAME SOURCES ... DEPS ...): a Google Benchmark executable.
function(dm_benchmark name)
  cmake_parse_arguments(ARG "" "" "SOURCES;DEPS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_DEPS} benchmark::benchmark benchmark::benchmark_main)
  target_compile_definitions(${name} PRIVATE
    DM_TEST_DATA="${PROJECT_SOURCE_DIR}/tests/data"
    DM_SOURCE_DIR="${PROJECT_SOURCE_DIR}"
    DM_BIN_DIR="${CMAKE_RUNTIME_OUTPUT_DIRECTORY}")
  dm_warnings(${name})
endfunction()

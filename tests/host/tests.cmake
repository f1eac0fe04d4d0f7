# Host tests: the tool's code compiled unchanged against a scripted fake of the Windows functions.
include(cmake/googletest.cmake)

# Object files, not an archive: the fake's fwprintf must be linked in to be the one the scan's call
# binds to, although nothing names it.
add_library(fake_windows OBJECT tests/host/fake_windows.cpp)
target_include_directories(fake_windows PUBLIC ${CMAKE_CURRENT_SOURCE_DIR} tests/host)

add_executable(host_scan_test tests/host/scan_test.cpp)
target_link_libraries(host_scan_test PRIVATE instance_check fake_windows GTest::gtest_main)
add_test(NAME host_scan_test COMMAND host_scan_test)

# The entry point, compiled as the product compiles it, against the same fake.
add_library(host_entry_point OBJECT app/main.cpp)
target_include_directories(host_entry_point PRIVATE ${CMAKE_CURRENT_SOURCE_DIR})
target_link_libraries(host_entry_point PRIVATE tool_options)
add_executable(host_dispatch_test tests/host/dispatch_test.cpp)
target_link_libraries(host_dispatch_test
  PRIVATE host_entry_point instance_check notice fake_windows GTest::gtest_main)
add_test(NAME host_dispatch_test COMMAND host_dispatch_test)

# The Windows Installer action, compiled as the product compiles it, against the same fake; the
# caller kit's header, which it takes its test of a path from, finds the fake's <windows.h>.
add_library(host_msi_action OBJECT msi_action/tavelune_check.cpp)
target_include_directories(host_msi_action PRIVATE ${CMAKE_CURRENT_SOURCE_DIR} tests/host)
target_link_libraries(host_msi_action PRIVATE tool_options)
add_executable(host_msi_action_test tests/host/msi_action_test.cpp)
target_link_libraries(host_msi_action_test
  PRIVATE host_msi_action instance_check fake_windows GTest::gtest_main)
add_test(NAME host_msi_action_test COMMAND host_msi_action_test)

option(TAVELUNE_BENCHMARKS "Build the host benchmark of the scan (run by scripts/bench)" OFF)
if(TAVELUNE_BENCHMARKS)
  find_package(benchmark REQUIRED)
  add_executable(scan_benchmark bench/scan_benchmark.cpp)
  target_link_libraries(scan_benchmark PRIVATE instance_check fake_windows benchmark::benchmark)
endif()

option(TAVELUNE_FUZZ "Build the libFuzzer target of the scan (clang; run by scripts/fuzz)" OFF)
if(TAVELUNE_FUZZ)
  add_executable(scan_fuzzer tests/fuzz/scan_fuzzer.cpp)
  target_link_libraries(scan_fuzzer PRIVATE instance_check fake_windows)
  target_compile_options(scan_fuzzer PRIVATE -fsanitize=fuzzer)
  target_link_options(scan_fuzzer PRIVATE -fsanitize=fuzzer)
endif()

# The update engine, compiled as the product compiles it, against a fake disk of its own that also
# stands in for the helper's process.
add_library(host_update_engine OBJECT
  update_engine/update_files.cpp update_engine/swap.cpp update_engine/journal.cpp
  update_engine/legacy_marker.cpp update_engine/file_list.cpp update_engine/file_steps.cpp update_engine/command_line.cpp)
target_include_directories(host_update_engine PRIVATE ${CMAKE_CURRENT_SOURCE_DIR} tests/host)
target_link_libraries(host_update_engine PRIVATE tool_options)
add_executable(host_update_engine_test
  tests/host/update_engine_test.cpp tests/host/fake_file_system.cpp)
target_include_directories(host_update_engine_test PRIVATE ${CMAKE_CURRENT_SOURCE_DIR} tests/host)
target_link_libraries(host_update_engine_test PRIVATE host_update_engine GTest::gtest_main)
add_test(NAME host_update_engine_test COMMAND host_update_engine_test)

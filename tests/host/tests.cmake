# Host tests: the scan compiled unchanged against a scripted fake of the Windows functions.
add_subdirectory(${GOOGLETEST_SOURCE_DIR} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)

# The fake comes with the test's own sources, not from an archive, so that its fwprintf is the one
# the scan's call binds to.
add_executable(host_scan_test tests/host/scan_test.cpp tests/host/fake_windows.cpp)
target_include_directories(host_scan_test PRIVATE ${CMAKE_CURRENT_SOURCE_DIR})
target_link_libraries(host_scan_test PRIVATE instance_check GTest::gtest_main)
add_test(NAME host_scan_test COMMAND host_scan_test)

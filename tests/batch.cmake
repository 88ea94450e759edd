# Tests of the batch driver and of the library's outside.
mk_add_test(batch_test batch_test.cpp)

add_executable(progress_test progress_test.cpp)
target_link_libraries(progress_test PRIVATE MK_Core mk_test_support GTest::gtest_main)
mk_target_options(progress_test)
gtest_discover_tests(progress_test DISCOVERY_MODE PRE_TEST)

mk_add_test(exports_test exports_test.cpp)
add_dependencies(exports_test MK_Core mkquill)

add_executable(c_header_test c_header_test.c)
target_link_libraries(c_header_test PRIVATE MK_Core)
mk_target_options(c_header_test)
target_compile_options(c_header_test PRIVATE -pedantic)
add_test(NAME c_header_test COMMAND c_header_test)

mk_add_test(operations_test operations_test.cpp)
mk_add_test(file_report_test file_report_test.cpp)
# Its own operator new: a test executable of its own.
mk_add_test(no_throw_test no_throw_test.cpp)

# Tests of the date/time formatter and locale data.
mk_add_test(date_format_test date_format_test.cpp)
mk_add_test(locale_data_test locale_data_test.cpp)

# Through the shared library alone: the other tests link the module's code
# (and ICU) into themselves.
add_executable(locale_module_test locale_module_test.cpp)
target_link_libraries(locale_module_test PRIVATE MK_Core GTest::gtest_main)
mk_target_options(locale_module_test)
gtest_discover_tests(locale_module_test DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 60
    PROPERTIES ENVIRONMENT "MK_TEST=1" TIMEOUT 600)

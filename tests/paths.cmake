# Tests of the path library: the growing path list, the folder listings and
# the folder scan with a watching thread. They link the library alone, as
# the desktop program and the tool do, without the core.
add_executable(paths_test path_list_test.cpp folder_walk_test.cpp)
target_link_libraries(paths_test PRIVATE mk_paths GTest::gtest_main Threads::Threads)
mk_target_options(paths_test)
gtest_discover_tests(paths_test DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 60
    PROPERTIES ENVIRONMENT "MK_TEST=1" TIMEOUT 600)

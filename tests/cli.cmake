# Tests of cli: its units, and the built tool run as a process.
mk_add_test(cli_options_test cli_options_test.cpp)
mk_add_test(cli_expand_test cli_expand_test.cpp)
mk_add_test(cli_naming_test cli_naming_test.cpp)
foreach(test cli_options_test cli_expand_test cli_naming_test)
    target_link_libraries(${test} PRIVATE mk_cli)
endforeach()

mk_add_test(cli_test cli_test.cpp)
add_dependencies(cli_test mkquill)

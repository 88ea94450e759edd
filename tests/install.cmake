# The installation: staged and private-prefix installs of the whole build
# (tests/install_test.sh). It installs what the build made, so it runs after
# a full build.
if(TARGET Mirelkanzoar)
    set(MK_HAS_APP 1)
else()
    set(MK_HAS_APP 0)
endif()
add_test(NAME install
         COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/install_test.sh ${PROJECT_BINARY_DIR} ${MK_HAS_APP})
set_tests_properties(install PROPERTIES ENVIRONMENT "MK_TEST=1;CMAKE=${CMAKE_COMMAND}" TIMEOUT 600)

# Tests of settings.
mk_add_test(settings_test settings_test.cpp)

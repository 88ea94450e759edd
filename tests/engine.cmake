# Tests of engine.
mk_add_test(decode_test decode_test.cpp)

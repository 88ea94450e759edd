# Tests of the platform layer: atomic and in-place file writing.
mk_add_test(atomic_file_test atomic_file_test.cpp)

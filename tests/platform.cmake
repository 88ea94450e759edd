# Tests of the platform layer: atomic and in-place file writing, the opening
# of regular files for reading.
mk_add_test(atomic_file_test atomic_file_test.cpp)
mk_add_test(files_test files_test.cpp)

# Tests of engine.
mk_add_test(decode_test decode_test.cpp)
mk_add_test(marker_test marker_test.cpp)
mk_add_test(writer_test writer_test.cpp)
mk_add_test(undo_test undo_test.cpp)
mk_add_test(block_arrays_test block_arrays_test.cpp)

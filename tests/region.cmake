# Tests of the region stamp.
mk_add_test(region_stamp_test region_stamp_test.cpp)

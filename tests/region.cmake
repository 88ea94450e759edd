# Tests of the region stamp and the CRC-32.
mk_add_test(region_stamp_test region_stamp_test.cpp)
mk_add_test(crc32_test crc32_test.cpp)

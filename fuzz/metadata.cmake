# Fuzz target of the section reader with the EXIF parser; seeds in
# fuzz/corpus/metadata.
mk_add_fuzzer(fuzz_metadata ${CMAKE_CURRENT_LIST_DIR}/metadata_fuzzer.cpp)

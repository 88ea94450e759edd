# Tests of metadata.
mk_add_test(exif_parser_test exif_parser_test.cpp)
mk_add_test(section_reader_test section_reader_test.cpp)
mk_add_test(stamp_date_test stamp_date_test.cpp)
mk_add_test(metadata_corpus_test metadata_corpus_test.cpp)
mk_add_test(metadata_fuzzer_test metadata_fuzzer_test.cpp ${PROJECT_SOURCE_DIR}/fuzz/metadata_fuzzer.cpp)
mk_add_test(stamp_date_text_test stamp_date_text_test.cpp)

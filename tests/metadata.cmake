# Tests of metadata.
mk_add_test(exif_parser_test exif_parser_test.cpp)
mk_add_test(section_reader_test section_reader_test.cpp)
mk_add_test(stamp_date_test stamp_date_test.cpp)
mk_add_test(metadata_corpus_test metadata_corpus_test.cpp)

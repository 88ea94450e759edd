# Tests of the date/time formatter and locale data.
mk_add_test(date_format_test date_format_test.cpp)
mk_add_test(locale_data_test locale_data_test.cpp)

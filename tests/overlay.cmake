# Tests of overlay.
mk_add_test(font_catalogue_test font_catalogue_test.cpp)
mk_add_test(font_match_test font_match_test.cpp)
mk_add_test(round_rect_test round_rect_test.cpp)
mk_add_test(text_raster_test text_raster_test.cpp)
mk_add_test(overlay_test overlay_test.cpp)

# Sources of core/overlay: font matching and overlay rendering, with the
# fontconfig catalogue of core/platform they stand on.
target_sources(mk_core_objects PRIVATE
    ${CMAKE_CURRENT_LIST_DIR}/../platform/font_catalogue.cpp
    ${CMAKE_CURRENT_LIST_DIR}/font_match.cpp
    ${CMAKE_CURRENT_LIST_DIR}/overlay.cpp
    ${CMAKE_CURRENT_LIST_DIR}/region.cpp
    ${CMAKE_CURRENT_LIST_DIR}/round_rect.cpp
    ${CMAKE_CURRENT_LIST_DIR}/text_raster.cpp)

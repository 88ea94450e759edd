# Sources of the date/time formatter and the locale data.
target_sources(mk_core_objects PRIVATE
    ${CMAKE_CURRENT_LIST_DIR}/date_format.cpp
    ${CMAKE_CURRENT_LIST_DIR}/locale_data.cpp)

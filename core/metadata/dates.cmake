# Sources of the section reader, EXIF parser and date selection.
target_sources(mk_core_objects PRIVATE
    ${CMAKE_CURRENT_LIST_DIR}/exif_parser.cpp
    ${CMAKE_CURRENT_LIST_DIR}/section_reader.cpp
    ${CMAKE_CURRENT_LIST_DIR}/stamp_date.cpp
    ${CMAKE_CURRENT_LIST_DIR}/stamp_date_text.cpp)

# Sources of core/engine: decoding, the stamped-image writer, the reverse
# marker and undo.
target_sources(mk_core_objects PRIVATE
    ${CMAKE_CURRENT_LIST_DIR}/jpeg_support.cpp
    ${CMAKE_CURRENT_LIST_DIR}/block_arrays.cpp
    ${CMAKE_CURRENT_LIST_DIR}/decode.cpp
    ${CMAKE_CURRENT_LIST_DIR}/reverse_marker.cpp
    ${CMAKE_CURRENT_LIST_DIR}/crc_while_writing.cpp
    ${CMAKE_CURRENT_LIST_DIR}/block_feed.cpp
    ${CMAKE_CURRENT_LIST_DIR}/crop_blocks.cpp
    ${CMAKE_CURRENT_LIST_DIR}/picture_checks.cpp
    ${CMAKE_CURRENT_LIST_DIR}/writer.cpp
    ${CMAKE_CURRENT_LIST_DIR}/stamp_steps.cpp
    ${CMAKE_CURRENT_LIST_DIR}/region_stamp.cpp
    ${CMAKE_CURRENT_LIST_DIR}/undo.cpp)

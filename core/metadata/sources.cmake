# Sources of core/metadata: section reader, EXIF parser, date selection
# (listed in dates.cmake) and the date/time formatter with its locale data
# (listed in format.cmake).
include(${CMAKE_CURRENT_LIST_DIR}/dates.cmake)
include(${CMAKE_CURRENT_LIST_DIR}/format.cmake)

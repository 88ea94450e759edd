# Sources of core/platform: the layers that stand in for the platform's
# registry, file attributes and times, the writing of files (atomic, keeping
# the old file's identity, or in place behind a synced copy), the loading of
# modules, processor placement and large zero-filled buffers, and the pool
# that hands buffers on within a batch (header only: buffer_pool.h).
target_sources(mk_core_objects PRIVATE
    ${CMAKE_CURRENT_LIST_DIR}/atomic_file.cpp
    ${CMAKE_CURRENT_LIST_DIR}/config_store.cpp
    ${CMAKE_CURRENT_LIST_DIR}/file_attributes.cpp
    ${CMAKE_CURRENT_LIST_DIR}/files.cpp
    ${CMAKE_CURRENT_LIST_DIR}/in_place.cpp
    ${CMAKE_CURRENT_LIST_DIR}/modules.cpp
    ${CMAKE_CURRENT_LIST_DIR}/pages.cpp
    ${CMAKE_CURRENT_LIST_DIR}/processors.cpp
    ${CMAKE_CURRENT_LIST_DIR}/scratch_file.cpp
    ${CMAKE_CURRENT_LIST_DIR}/readable.cpp)

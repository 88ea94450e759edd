# Sources of core/settings: the settings record and its persistence.
target_sources(mk_core_objects PRIVATE
    ${CMAKE_CURRENT_LIST_DIR}/settings.cpp
    ${CMAKE_CURRENT_LIST_DIR}/persistence.cpp)

# Sources of core/batch: the batch driver and the per-file operations, and
# the progress dialog, a Qt module of its own that the driver loads on demand.
target_sources(mk_core_objects PRIVATE
    ${CMAKE_CURRENT_LIST_DIR}/driver.cpp
    ${CMAKE_CURRENT_LIST_DIR}/fast_stamp.cpp
    ${CMAKE_CURRENT_LIST_DIR}/operations.cpp)

if(Qt6Widgets_FOUND AND NOT MK_FUZZ)
    add_library(MK_ProgressDialog MODULE ${CMAKE_CURRENT_LIST_DIR}/progress_dialog.cpp)
    target_include_directories(MK_ProgressDialog PRIVATE ${CMAKE_CURRENT_LIST_DIR}/..)
    target_link_libraries(MK_ProgressDialog PRIVATE Qt6::Widgets)
    set_target_properties(MK_ProgressDialog PROPERTIES
        PREFIX "lib" CXX_VISIBILITY_PRESET hidden
        LIBRARY_OUTPUT_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR})
    mk_target_options(MK_ProgressDialog)
    install(TARGETS MK_ProgressDialog LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR})
endif()

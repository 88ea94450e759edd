# Tests of the desktop program: Qt Test executables over the mk_app library,
# run on the offscreen platform so they need no display.
if(NOT TARGET mk_app OR NOT Qt6Test_FOUND)
    return()
endif()

# mk_add_app_test(<name> <sources...>)
function(mk_add_app_test name)
    add_executable(${name} ${ARGN})
    set_target_properties(${name} PROPERTIES AUTOMOC ON)
    target_link_libraries(${name} PRIVATE mk_app Qt6::Test)
    target_compile_definitions(${name} PRIVATE
        MK_CORPUS_DIR="${MK_CORPUS_DIR}"
        MK_SOURCE_DIR="${PROJECT_SOURCE_DIR}"
        MK_PROGRAM="$<TARGET_FILE:Mirelkanzoar>")
    mk_target_options(${name})
    add_test(NAME ${name} COMMAND ${name})
    set_tests_properties(${name} PROPERTIES
        ENVIRONMENT "QT_QPA_PLATFORM=offscreen;MK_TEST=1"
        TIMEOUT 600)
endfunction()

mk_add_app_test(app_number_field_test app/number_field_test.cpp)
mk_add_app_test(app_center_over_owner_test app/center_over_owner_test.cpp)
mk_add_app_test(app_settings_dialog_test app/settings_dialog_test.cpp)
mk_add_app_test(app_close_save_test app/close_save_test.cpp)
mk_add_app_test(app_main_window_test app/main_window_test.cpp)
mk_add_app_test(app_dropped_files_test app/dropped_files_test.cpp)
target_link_libraries(app_dropped_files_test PRIVATE JPEG::JPEG)
mk_add_app_test(app_single_instance_test app/single_instance_test.cpp)
add_dependencies(app_single_instance_test Mirelkanzoar)
mk_add_app_test(app_color_button_test app/color_button_test.cpp)
mk_add_app_test(app_manual_path_test app/manual_path_test.cpp)
mk_add_app_test(app_locale_lists_test app/locale_lists_test.cpp)
mk_add_app_test(app_format_page_test app/format_page_test.cpp)
mk_add_app_test(app_preview_test app/preview_test.cpp)
target_link_libraries(app_preview_test PRIVATE JPEG::JPEG)
mk_add_app_test(app_folder_chooser_test app/folder_chooser_test.cpp)
mk_add_app_test(app_stamp_commands_test app/stamp_commands_test.cpp)
mk_add_app_test(app_folder_stamping_test app/folder_stamping_test.cpp)
target_link_libraries(app_folder_stamping_test PRIVATE JPEG::JPEG)

# Pictures of the program's windows for a person to look at; needs a
# display (xvfb-run), so it is built but not run as a test:
#   xvfb-run -a -s "-screen 0 1280x1024x24" tests/app_screenshots <folder>
add_executable(app_screenshots app/screenshots.cpp)
set_target_properties(app_screenshots PROPERTIES AUTOMOC ON)
target_link_libraries(app_screenshots PRIVATE mk_app)
mk_target_options(app_screenshots)

# The preview's render thread, without Qt, so that ThreadSanitizer sees all
# of it (the test command runs it in its ThreadSanitizer build).
add_executable(preview_renderer_test app/preview_renderer_test.cpp)
target_link_libraries(preview_renderer_test PRIVATE mk_preview GTest::gtest_main)
target_compile_definitions(preview_renderer_test PRIVATE
    MK_SAMPLE_JPEG="${PROJECT_SOURCE_DIR}/app/resources/sample.jpg")
mk_target_options(preview_renderer_test)
gtest_discover_tests(preview_renderer_test DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 60
    PROPERTIES ENVIRONMENT "MK_TEST=1" TIMEOUT 600)

add_executable(stamp_sample_test app/stamp_sample_test.cpp)
target_link_libraries(stamp_sample_test PRIVATE mk_preview GTest::gtest_main)
mk_target_options(stamp_sample_test)
gtest_discover_tests(stamp_sample_test DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 60
    PROPERTIES ENVIRONMENT "MK_TEST=1" TIMEOUT 600)

# The folder commands' scan thread, without Qt, also run in the test
# command's ThreadSanitizer build.
add_executable(folder_count_test app/folder_count_test.cpp)
target_link_libraries(folder_count_test PRIVATE mk_folder_scan GTest::gtest_main)
mk_target_options(folder_count_test)
gtest_discover_tests(folder_count_test DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 60
    PROPERTIES ENVIRONMENT "MK_TEST=1" TIMEOUT 600)

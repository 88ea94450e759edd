# The desktop program's preview: a re-render of the sample photograph and a
# drawing of the strip, beside decoding the sample (preview_bench).
if(NOT TARGET mk_preview)
    return()
endif()
add_executable(preview_bench preview_bench.cpp)
target_link_libraries(preview_bench PRIVATE mk_preview)
target_compile_definitions(preview_bench PRIVATE
    MK_SAMPLE_JPEG="${PROJECT_SOURCE_DIR}/app/resources/sample.jpg")
mk_target_options(preview_bench)

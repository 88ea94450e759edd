# End-to-end stamp benchmarks: mkquill against jpegtran and ImageMagick per
# kind of picture (stamp_bench), and the batch driver with one worker and
# with all cores (batch_bench). The test pictures are made once into
# bench-data/ of the build folder.
get_filename_component(MK_STAMP_BENCH_CORPUS "${PROJECT_SOURCE_DIR}/../shared/corpus" ABSOLUTE)
set(MK_STAMP_BENCH_DATA "${CMAKE_BINARY_DIR}/bench-data")

foreach(name stamp_bench batch_bench)
    add_executable(${name} ${name}.cpp bench_support.cpp)
    target_link_libraries(${name} PRIVATE mk_core_static)
    target_compile_definitions(${name} PRIVATE
        MK_BENCH_CORPUS_DIR="${MK_STAMP_BENCH_CORPUS}"
        MK_BENCH_DATA_DIR="${MK_STAMP_BENCH_DATA}")
    mk_target_options(${name})
endforeach()

# stamp_bench runs the tool as a process.
target_compile_definitions(stamp_bench PRIVATE MK_BENCH_MKQUILL="$<TARGET_FILE:mkquill>")
add_dependencies(stamp_bench mkquill)

# Benchmark of the stamped-image writer against jpegtran.
get_filename_component(MK_BENCH_CORPUS_DIR "${PROJECT_SOURCE_DIR}/../shared/corpus" ABSOLUTE)
add_executable(stamp_writer_bench stamp_writer_bench.cpp)
target_link_libraries(stamp_writer_bench PRIVATE mk_core_static)
target_compile_definitions(stamp_writer_bench PRIVATE MK_BENCH_CORPUS_DIR="${MK_BENCH_CORPUS_DIR}")
mk_target_options(stamp_writer_bench)

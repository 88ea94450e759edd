# The desktop program's folder scan (scan_bench): mk::paths::ScanFolderTree
# into a path list beside find over the same made folders. The core only
# gives the picture rule (MK_IsSupportedFile).
get_filename_component(MK_SCAN_BENCH_CORPUS "${PROJECT_SOURCE_DIR}/../shared/corpus" ABSOLUTE)
add_executable(scan_bench scan_bench.cpp bench_support.cpp)
target_link_libraries(scan_bench PRIVATE mk_paths mk_core_static)
# bench_support.cpp names the stamp benchmarks' picture folders; the scan
# benchmark makes its own files and uses neither.
target_compile_definitions(scan_bench PRIVATE
    MK_BENCH_CORPUS_DIR="${MK_SCAN_BENCH_CORPUS}"
    MK_BENCH_DATA_DIR="${CMAKE_BINARY_DIR}/bench-data")
mk_target_options(scan_bench)

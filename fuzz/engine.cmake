# Fuzz targets of the engine. Each target fuzz_<name> has its seeds in
# fuzz/corpus/<name>/; run_fuzzers.sh runs them all over their seeds and the
# shared corpus of camera files.
mk_add_fuzzer(fuzz_probe probe_fuzzer.cpp)
mk_add_fuzzer(fuzz_undo undo_fuzzer.cpp)
mk_add_fuzzer(fuzz_decode decode_fuzzer.cpp)
mk_add_fuzzer(fuzz_stamp stamp_fuzzer.cpp)
set(MK_ENGINE_FUZZERS fuzz_probe fuzz_undo fuzz_decode fuzz_stamp)

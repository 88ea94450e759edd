#!/usr/bin/env bash
# Sets everything up and runs the whole test suite: once in a normal build,
# once under AddressSanitizer and UndefinedBehaviorSanitizer, the threaded
# tests under ThreadSanitizer, every fuzz target over its seed corpus,
# and the formatting check.
set -euo pipefail
top=$(cd "$(dirname "$0")" && pwd)
cd "$top"
jobs=$(nproc)

echo "== normal build"
scripts/setup.sh build -DMK_WERROR=ON
(cd build && ctest --output-on-failure -j"$jobs")

echo "== AddressSanitizer + UndefinedBehaviorSanitizer build"
scripts/setup.sh build-asan -DMK_WERROR=ON -DMK_SANITIZE=ON -DMK_BUILD_BENCH=OFF
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:strict_string_checks=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
# Libraries that keep process-wide caches until exit (fontconfig, Qt, ICU)
# are not ours to free.
export LSAN_OPTIONS=suppressions=$top/tests/lsan.supp:print_suppressions=0
(cd build-asan && ctest --output-on-failure -j"$jobs")

echo "== ThreadSanitizer: the batch driver, the operations it runs in parallel, the"
echo "   region stamp, whose blocks are made beside the writing of the file, the"
echo "   desktop program's preview render thread, the folder scan with its watcher and"
echo "   the desktop program's folder-scan thread"
cmake -S . -B build-tsan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DMK_TSAN=ON -DMK_WERROR=ON \
    -DMK_BUILD_BENCH=OFF >/dev/null
cmake --build build-tsan --target batch_test operations_test region_stamp_test preview_renderer_test \
    paths_test folder_count_test
tsan_options="halt_on_error=1:second_deadlock_stack=1:suppressions=$top/tests/tsan.supp"
TSAN_OPTIONS=$tsan_options build-tsan/tests/batch_test
TSAN_OPTIONS=$tsan_options build-tsan/tests/operations_test
# The made pictures; the corpus adds time, not other paths.
TSAN_OPTIONS=$tsan_options build-tsan/tests/region_stamp_test --gtest_filter='-*OnTheCorpus*'
TSAN_OPTIONS=$tsan_options build-tsan/tests/preview_renderer_test
TSAN_OPTIONS=$tsan_options build-tsan/tests/paths_test
TSAN_OPTIONS=$tsan_options build-tsan/tests/folder_count_test

echo "== fuzz targets over their seed corpora"
CC=clang CXX=clang++ scripts/setup.sh build-fuzz -DMK_WERROR=ON -DMK_FUZZ=ON -DMK_SANITIZE=ON \
    -DMK_BUILD_TESTS=OFF -DMK_BUILD_BENCH=OFF
fuzz/run_fuzzers.sh build-fuzz

echo "== formatting"
git ls-files -- '*.cpp' '*.h' '*.c' | xargs clang-format --dry-run -Werror
echo "formatting: clean"

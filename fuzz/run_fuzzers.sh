#!/bin/sh
# Runs every fuzz target of a fuzz build once over its seeds, so every input
# that ever crashed a target stays a regression test.
#   fuzz/run_fuzzers.sh <fuzz-build-dir>
# Targets are the executables <fuzz-build-dir>/fuzz/fuzz_<name>; their seeds
# are fuzz/corpus/<name>/ and the shared corpus of camera files beside the
# checkout. Fails when a target crashes or none is found.
set -u
if [ $# -ne 1 ]; then
    echo "usage: $0 <fuzz-build-dir>" >&2
    exit 2
fi
build=$1
here=$(cd "$(dirname "$0")" && pwd)
shared=$(cd "$here/../.." && pwd)/shared/corpus
status=0
found=0
for target in "$build"/fuzz/fuzz_*; do
    [ -x "$target" ] && [ -f "$target" ] || continue
    found=$((found + 1))
    name=$(basename "$target")
    seeds="$here/corpus/${name#fuzz_}"
    set --
    [ -d "$seeds" ] && set -- "$@" "$seeds"
    [ -d "$shared" ] && set -- "$@" "$shared"
    if [ $# -eq 0 ]; then
        echo "$name: no seed folder" >&2
        status=1
        continue
    fi
    echo "== $name over $*"
    if ! "$target" -runs=0 "$@"; then
        echo "$name: FAILED" >&2
        status=1
    fi
done
if [ "$found" -eq 0 ]; then
    echo "no fuzz targets under $build/fuzz" >&2
    exit 1
fi
exit $status

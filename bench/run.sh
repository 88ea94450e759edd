#!/usr/bin/env bash
# Builds and runs the stamp benchmarks of a release build folder:
#   bench/run.sh <build-dir> [runs]
# runs: repetitions of each measurement (stamp_bench 5, batch_bench 7 when
# not given). The figures are only as quiet as the machine: the load
# average is printed before and after each program.
set -euo pipefail

if [[ $# -lt 1 || $# -gt 2 ]]; then
    echo "usage: $0 <build-dir> [runs]" >&2
    exit 2
fi
build=$1
runs=${2:-}

# The build's own output only when it fails.
if ! log=$(cmake --build "$build" --target stamp_bench batch_bench 2>&1); then
    echo "$log" >&2
    exit 1
fi

stamp_args=()
batch_args=()
if [[ -n $runs ]]; then
    stamp_args=(-n "$runs")
    batch_args=(-n "$runs")
fi

echo "== $(date -u '+%Y-%m-%d %H:%M UTC'), load: $(cut -d' ' -f1-3 /proc/loadavg)"
"$build/bench/stamp_bench" "${stamp_args[@]}"
echo
"$build/bench/batch_bench" "${batch_args[@]}"

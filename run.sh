#!/usr/bin/env bash
# Sets everything up (packages, build) and runs mkquill with the arguments
# given. With no arguments it stamps copies of the sample photographs the
# project ships, with the default settings, into run-output/samples/.
set -euo pipefail
top=$(cd "$(dirname "$0")" && pwd)
"$top/scripts/setup.sh" build >&2
mkquill="$top/build/cli/mkquill"

if (($# > 0)); then
    exec "$mkquill" "$@"
fi

out="$top/run-output/samples"
rm -rf "$out"
mkdir -p "$out"
cp "$top"/samples/*.jpg "$out"/
echo "Stamping copies of the sample photographs in run-output/samples/ with the default settings:"
status=0
"$mkquill" -L "$out/*.jpg" || status=$?
echo
echo "Files now in run-output/samples/:"
(cd "$out" && ls -l)
exit "$status"

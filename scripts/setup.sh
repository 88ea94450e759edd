#!/usr/bin/env bash
# Installs the Debian packages of scripts/debian-packages.txt that are missing,
# then configures and builds the project into the folder given (default: build).
# Extra arguments are passed to CMake's configure step. Safe to run again.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build_dir=${1:-build}
shift || true

missing=()
while read -r pkg; do
    [[ -z "$pkg" || "$pkg" == \#* ]] && continue
    if ! dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q "install ok installed"; then
        missing+=("$pkg")
    fi
done < "$top/scripts/debian-packages.txt"

if ((${#missing[@]})); then
    echo "Installing: ${missing[*]}"
    if [[ $(id -u) -ne 0 ]]; then sudo=sudo; else sudo=; fi
    $sudo apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

cmake -S "$top" -B "$top/$build_dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@" >/dev/null
cmake --build "$top/$build_dir"

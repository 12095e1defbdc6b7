#!/usr/bin/env bash
# Configures and builds everything into build/ (or build-asan/ with TARN_SANITIZE=1).
set -euo pipefail
cd "$(dirname "$0")/.."
dir=build
flags=()
if [ "${TARN_SANITIZE:-0}" = 1 ]; then
    dir=build-asan
    flags+=(-DTARN_SANITIZE=ON)
fi
cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo "${flags[@]}" >&2
cmake --build "$dir" -j"$(nproc)" >&2
echo "$dir"

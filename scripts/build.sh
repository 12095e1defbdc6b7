#!/usr/bin/env bash
# Configures and builds everything into build/ (build-asan/ with TARN_SANITIZE=1: AddressSanitizer and
# UndefinedBehaviorSanitizer; build-tsan/ with TARN_SANITIZE=thread: ThreadSanitizer).
set -euo pipefail
cd "$(dirname "$0")/.."
dir=build
flags=()
case "${TARN_SANITIZE:-0}" in
    0) ;;
    thread) dir=build-tsan flags+=(-DTARN_SANITIZE=thread) ;;
    *) dir=build-asan flags+=(-DTARN_SANITIZE=ON) ;;
esac
cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo "${flags[@]}" >&2
cmake --build "$dir" -j"$(nproc)" >&2
echo "$dir"

#!/usr/bin/env bash
# Installs what is missing, builds, and runs the whole suite inside one virtual display. With
# TARN_SANITIZE=1 the suite (less the package checks) runs under AddressSanitizer, LeakSanitizer and
# UndefinedBehaviorSanitizer; with TARN_SANITIZE=thread the engine's, camera's and tool's tests run under
# ThreadSanitizer. Options and suppressions: tests/sanitizers/ and tests/CMakeLists.txt.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
dir=$(scripts/build.sh | tail -n 1)
cd "$dir"
select=()
case "${TARN_SANITIZE:-0}" in
    0) ;;
    thread) select=(-L '^(media|camera|tools)$') ;;
    *) select=(-LE '^packaging$') ;;
esac
# Most tests wait on real timers and servers rather than the CPU: run several at once.
exec xvfb-run -a -s "-screen 0 1920x1080x24" ctest --output-on-failure -j4 "${select[@]}" "$@"

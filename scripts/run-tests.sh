#!/usr/bin/env bash
# Installs what is missing, builds, and runs the whole suite inside one virtual display.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
dir=$(scripts/build.sh | tail -n 1)
cd "$dir"
if [ "${TARN_SANITIZE:-0}" = 1 ]; then
    # Leaks from Qt's and the GL driver's process-lifetime objects are not ours to chase.
    export ASAN_OPTIONS=detect_leaks=0:abort_on_error=1
    export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
fi
# Most tests wait on real timers and servers rather than the CPU: run several at once.
exec xvfb-run -a -s "-screen 0 1920x1080x24" ctest --output-on-failure -j4 "$@"

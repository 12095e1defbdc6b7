#!/usr/bin/env bash
# Installs what is missing, builds, and runs the viewer on the virtual thermal camera (tarn-player-sim).
# Without a display it runs on a virtual one, saves a screenshot after a few seconds and says where.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
dir=$(scripts/build.sh | tail -n 1)
viewer="$dir/bin/${TARN_VIEWER:-tarn-player-sim}"

if [ -n "${DISPLAY:-}" ]; then
    exec "$viewer" "$@"
fi

shot="${TARN_SCREENSHOT:-$PWD/$dir/tarn-player-screenshot.png}"
seconds="${TARN_SCREENSHOT_AFTER:-6}"
xvfb-run -a -s "-screen 0 1280x800x24" bash -c '
    openbox --sm-disable >/dev/null 2>&1 & wm=$!
    "$1" & pid=$!
    sleep "$2"
    import -window root "$3"
    kill $pid $wm
    wait $pid 2>/dev/null || true
' _ "$viewer" "$seconds" "$shot"
echo "No display: ran the viewer on a virtual one for $seconds s; screenshot saved to $shot"

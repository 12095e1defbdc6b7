#!/usr/bin/env bash
# Builds the Debian package, installs it with apt-get as a user would, starts the installed
# tarn-player-sim (from /usr/bin, with no environment of the build: it finds the virtual camera library
# the package installed) on a virtual display, waits up to 30 s for its window and its picture, saves a
# screenshot, and removes the package again if it was not installed before.
# Changes the machine: run it as root (or with sudo) on a machine you may install packages on.
set -euo pipefail
cd "$(dirname "$0")/.."
deb=$(scripts/package.sh | tail -n 1)
sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
was_installed=0
dpkg-query -W -f='${Status}' tarn-player 2>/dev/null | grep -q "install ok installed" && was_installed=1

DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -q "$deb"
cleanup() { [ $was_installed -eq 1 ] || $sudo apt-get remove -y -q tarn-player >/dev/null; }
trap cleanup EXIT

shot="${TARN_SCREENSHOT:-$PWD/build/installed-tarn-player-sim.png}"
cd /
env -i PATH=/usr/bin:/bin HOME="${HOME:-/root}" xvfb-run -a -s "-screen 0 1280x800x24" bash -c '
    set -u
    command -v tarn-player-sim
    tarn-player-sim >/dev/null 2>&1 & pid=$!
    window=$(timeout 30 xdotool search --sync --onlyvisible --class tarn-player-sim | head -n 1)
    status=1
    if [ -n "$window" ]; then
        # Wait (up to 20 s) for the picture of the virtual camera in the middle of the video pane (the
        # window opens at 0,0 without a window manager): it brings dozens of grey levels there, the
        # empty pane one.
        for _ in $(seq 100); do
            import -window root "$1"
            [ "$(convert "$1" -crop 200x200+412+284 +repage -format %k info:)" -gt 20 ] && { status=0; break; }
            sleep 0.2
        done
        if [ $status -eq 0 ]; then
            echo "installed tarn-player-sim shows its window ($window) with a picture; screenshot: $1"
        else
            echo "installed tarn-player-sim shows a window but no picture within 20 s; screenshot: $1" >&2
        fi
    else
        echo "installed tarn-player-sim showed no window within 30 s" >&2
    fi
    kill $pid; wait $pid 2>/dev/null || true
    exit $status
' _ "$shot"

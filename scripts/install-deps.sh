#!/usr/bin/env bash
# Installs, with apt-get, whatever the build and the tests need and the machine lacks (Debian 12).
set -euo pipefail

packages=(
    # build and run
    build-essential cmake pkg-config
    qtbase5-dev qtdeclarative5-dev qtmultimedia5-dev qtquickcontrols2-5-dev libqt5multimedia5-plugins
    qml-module-qtquick2 qml-module-qtquick-window2 qml-module-qtquick-controls2 qml-module-qtmultimedia
    qml-module-qttest
    libavformat-dev libavcodec-dev libavutil-dev libswscale-dev libswresample-dev libavdevice-dev
    libgl1-mesa-dri
    # a virtual display with a window manager, screenshots and synthetic input
    xvfb xauth openbox xdotool x11-utils imagemagick libxcb1-dev
    # media and servers for the tests
    ffmpeg pulseaudio pulseaudio-utils sox v4l-utils valgrind
    python3-gi gir1.2-gst-rtsp-server-1.0 gstreamer1.0-tools gstreamer1.0-plugins-base-apps
    gstreamer1.0-plugins-base gstreamer1.0-plugins-good
    gstreamer1.0-plugins-bad gstreamer1.0-plugins-ugly nginx libnginx-mod-rtmp
    # the Debian package and its checks
    dpkg-dev file lintian desktop-file-utils appstream
    # the fuzz targets (scripts/fuzz.sh): clang with libFuzzer and the sanitizer runtimes
    clang-14 libfuzzer-14-dev libclang-rt-14-dev
)

missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}"
sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
$sudo apt-get update -q
# Packages must not start services here (nginx would take port 80); the tests start their own.
policy=/usr/sbin/policy-rc.d
created_policy=0
if [ ! -e "$policy" ]; then
    printf '#!/bin/sh\nexit 101\n' | $sudo tee "$policy" >/dev/null
    $sudo chmod +x "$policy"
    created_policy=1
fi
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -q "${missing[@]}"
[ $created_policy -eq 1 ] && $sudo rm -f "$policy"
exit 0

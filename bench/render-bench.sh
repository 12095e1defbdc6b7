#!/usr/bin/env bash
# The cost of showing the virtual camera (640x512 YUYV at 25 fps): the viewer on each presentation road
# beside mpv on the same camera, each alone in a maximised window on a 1280x800 virtual display with
# openbox. For each program: CPU seconds per second over SECONDS (default 20) after WARMUP seconds
# (default 5), and peak resident memory; then each one's CPU as a ratio to mpv --vo=x11.
# Goals: the viewer on the software road <= 1.0x mpv --vo=x11 and <= 150 MiB.
# Needs mpv (apt-get install mpv); run it on an otherwise idle machine.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-20}
warmup=${WARMUP:-5}
build=${TARN_BUILD:-build}
vcam=$PWD/$build/lib/libtarn-vcam.so
[ -f "$vcam" ] || { echo "render-bench: build first ($vcam is missing)" >&2; exit 2; }
command -v mpv >/dev/null || { echo "render-bench: mpv is not installed (apt-get install mpv)" >&2; exit 2; }

# Runs one program on the display; prints "CPU-s/s peak-MiB".
measure() {
    "$@" >"${RENDER_BENCH_LOG:-/dev/null}" 2>&1 &
    local pid=$!
    sleep "$warmup"
    local hz start end
    hz=$(getconf CLK_TCK)
    start=$(awk '{print $14 + $15}' "/proc/$pid/stat")
    sleep "$seconds"
    end=$(awk '{print $14 + $15}' "/proc/$pid/stat")
    local peak
    peak=$(awk '/VmHWM/ {print $2}' "/proc/$pid/status")
    kill "$pid"
    wait "$pid" 2>/dev/null || true
    awk -v a="$start" -v b="$end" -v hz="$hz" -v s="$seconds" -v kb="$peak" \
        'BEGIN { printf "%.3f %.0f\n", (b - a) / hz / s, kb / 1024 }'
}

run_all() {
    openbox --sm-disable >/dev/null 2>&1 &
    local wm=$!
    sleep 1
    local mpv_common=(--no-config --no-audio --window-maximized=yes --demuxer-lavf-format=video4linux2
                      --demuxer-lavf-o=input_format=yuyv422,video_size=640x512 av://v4l2:/dev/video0)
    declare -A cpu mem
    local names=("tarn-player-sim (software road)" "tarn-player-sim --render opengl" "mpv --vo=gpu --gpu-sw" "mpv --vo=x11")
    read -r cpu[0] mem[0] < <(measure "$build/bin/tarn-player-sim" --render software)
    read -r cpu[1] mem[1] < <(measure "$build/bin/tarn-player-sim" --render opengl)
    read -r cpu[2] mem[2] < <(measure env LD_PRELOAD="$vcam" mpv --vo=gpu --gpu-sw "${mpv_common[@]}")
    read -r cpu[3] mem[3] < <(measure env LD_PRELOAD="$vcam" mpv --vo=x11 "${mpv_common[@]}")
    kill "$wm" 2>/dev/null || true
    printf '%-34s %8s %10s %10s\n' program CPU-s/s "peak MiB" "x mpv-x11"
    for i in 0 1 2 3; do
        printf '%-34s %8s %10s %10s\n' "${names[$i]}" "${cpu[$i]}" "${mem[$i]}" \
            "$(awk -v a="${cpu[$i]}" -v b="${cpu[3]}" 'BEGIN { printf "%.2f", (b > 0 ? a / b : 0) }')"
    done
}

# The display's own run: this script again, inside it.
if [ "${RENDER_BENCH_INSIDE:-0}" = 1 ]; then
    run_all
else
    RENDER_BENCH_INSIDE=1 xvfb-run -a -s "-screen 0 1280x800x24" "$0" "$seconds"
fi

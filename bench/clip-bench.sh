#!/usr/bin/env bash
# clip-bench.sh [SECONDS] [RUNS]: what a running clip costs. On the virtual camera (640x512 YUYV, 25 fps,
# node 96), over SECONDS (default 20) after WARMUP seconds (default 5):
#   - the player with the clip recorder idle, and recording (tarn-clip-bench, CPU-s/s of its process);
#     their difference is the clip's extra CPU;
#   - the ffmpeg command line encoding the same camera with the clip's settings (libx264 veryfast,
#     zerolatency, crf 23, a key frame a second, yuv420p, fragmented MP4 flushed at each fragment),
#     CPU-s/s of its process over the same seconds.
# Each figure is the median of RUNS (default 3) alternating runs. The last line is "ratio R": the clip's
# extra CPU over ffmpeg's; goal <= 1.1. Run it on an otherwise idle machine.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-20}
runs=${2:-3}
warmup=${WARMUP:-5}
build=${TARN_BUILD:-build}
vcam=$PWD/$build/lib/libtarn-vcam.so
bench=$PWD/$build/bench/tarn-clip-bench
for f in "$vcam" "$bench"; do
    [ -e "$f" ] || { echo "clip-bench: build first ($f is missing)" >&2; exit 2; }
done
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export LD_PRELOAD=$vcam TARN_VCAM_NODE=96 TARN_VCAM_FORMAT=YUYV TARN_VCAM_SIZE=640x512 TARN_VCAM_FPS=25
unset TARN_VCAM_CONTROL TARN_VCAM_JOURNAL TARN_VCAM_STAMP

# ffmpeg with the clip's settings: the same frames in (passthrough: none duplicated or dropped to make
# a constant rate), the same conversion (swscale bicubic), encoder and container.
ffmpeg_cpu() {
    ffmpeg -nostdin -hide_banner -loglevel error -f v4l2 -input_format yuyv422 -video_size 640x512 \
        -framerate 25 -i /dev/video96 -fps_mode passthrough -sws_flags bicubic -pix_fmt yuv420p \
        -c:v libx264 -preset veryfast -tune zerolatency -crf 23 -g 25 -x264-params force-cfr=1 \
        -f mp4 -movflags frag_keyframe+empty_moov+default_base_moof -flush_packets 1 -y "$work/ffmpeg.mp4" &
    local pid=$! hz start end
    hz=$(getconf CLK_TCK)
    sleep "$warmup"
    start=$(awk '{print $14 + $15}' "/proc/$pid/stat")
    sleep "$seconds"
    end=$(awk '{print $14 + $15}' "/proc/$pid/stat")
    kill -INT "$pid"
    wait "$pid" 2>/dev/null || true
    awk -v a="$start" -v b="$end" -v hz="$hz" -v s="$seconds" 'BEGIN { printf "%.4f\n", (b - a) / hz / s }'
}

bench_cpu() {
    "$bench" "$seconds" --warmup "$warmup" "$@" 2>/dev/null | tee -a "$work/bench.log" | awk '/^cpu-s\/s/ { print $2 }'
}

for run in $(seq "$runs"); do
    echo "idle $(bench_cpu)" >>"$work/figures"
    echo "clip $(bench_cpu --clip "$work/clip.mp4")" >>"$work/figures"
    echo "ffmpeg $(ffmpeg_cpu)" >>"$work/figures"
done
median() { awk -v kind="$1" '$1 == kind { print $2 }' "$work/figures" | sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }
all() { awk -v kind="$1" '$1 == kind { printf "%s ", $2 }' "$work/figures"; }
idle=$(median idle)
clip=$(median clip)
ff=$(median ffmpeg)
extra=$(awk -v a="$clip" -v b="$idle" 'BEGIN { printf "%.4f", a - b }')
echo "virtual camera 640x512 YUYV 25 fps; ${seconds} s per run after ${warmup} s, median of ${runs}"
echo "player, clip idle:       $idle CPU-s/s (runs: $(all idle))"
echo "player, clip recording:  $clip CPU-s/s (runs: $(all clip))"
echo "clip's extra CPU:        $extra CPU-s/s"
echo "ffmpeg CLI, same encode: $ff CPU-s/s (runs: $(all ffmpeg))"
echo "clip frames: $(grep '^clip frames' "$work/bench.log" | awk '{ printf "%s (dropped %s) ", $3, $5 }')"
echo "ratio $(awk -v a="$extra" -v b="$ff" 'BEGIN { printf "%.3f", a / b }') (goal <= 1.1)"

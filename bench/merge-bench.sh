#!/bin/sh
# merge-bench.sh [SECONDS] [TOOL]: CPU seconds of `tarn-tool merge` against `ffmpeg -i H264 -i AAC -c copy`
# on the same raw 1080p H.264 + ADTS AAC pair (SECONDS long, default 60, made here by ffmpeg), each the
# best of three runs. The last line is "ratio R" (tarn-tool CPU / ffmpeg CPU).
set -eu
seconds=${1:-60}
tool=${2:-$(dirname "$0")/../build/bin/tarn-tool}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

ffmpeg -hide_banner -v error -f lavfi -i "testsrc2=size=1920x1080:rate=25:duration=$seconds" \
    -f lavfi -i "sine=frequency=440:duration=$seconds" -c:v libx264 -preset ultrafast -bf 0 -pix_fmt yuv420p \
    -c:a aac -map 0:v -f h264 "$work/in.h264" -map 1:a -f adts "$work/in.aac"

# CPU seconds (user + system) of the best of three runs of a command.
cpu() {
    for run in 1 2 3; do
        /usr/bin/time -f '%U %S' -o "$work/time" "$@" >/dev/null
        cat "$work/time"
    done | awk '{ t = $1 + $2; if (NR == 1 || t < best) best = t } END { printf "%.3f", best }'
}

tarn=$(cpu "$tool" merge "$work/in.h264" "$work/in.aac" "$work/tarn.mp4")
ffm=$(cpu ffmpeg -hide_banner -v error -nostdin -y -i "$work/in.h264" -i "$work/in.aac" -c copy "$work/ffmpeg.mp4")
echo "input: ${seconds} s of 1920x1080 25 fps H.264 ($(du -h "$work/in.h264" | cut -f1)) + AAC"
echo "tarn-tool merge: $tarn s CPU"
echo "ffmpeg -c copy:  $ffm s CPU"
echo "ratio $(echo "$tarn $ffm" | awk '{ printf "%.2f", $1 / $2 }')"

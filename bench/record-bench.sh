#!/bin/sh
# record-bench.sh [SECONDS] [BENCH]: the player's CPU per frame on a live RTSP stream (GStreamer's server,
# 640x512 25 fps H.264 with B-frames, as a thermal camera sends) without and with recording to MP4,
# alternating three times; each figure is the median. The last line is "ratio R" (with / without).
set -eu
seconds=${1:-20}
bench=${2:-$(dirname "$0")/../build/bench/tarn-bench}
server=$(dirname "$0")/../tests/support/rtsp_server.py
work=$(mktemp -d)
/usr/bin/python3 "$server" "( videotestsrc is-live=true pattern=smpte ! video/x-raw,width=640,height=512,framerate=25/1 \
! x264enc speed-preset=ultrafast bframes=3 key-int-max=25 ! video/x-h264,profile=main \
! rtph264pay name=pay0 pt=96 config-interval=1 )" >"$work/server" &
pid=$!
trap 'kill $pid; rm -rf "$work"' EXIT
until grep -q ready "$work/server"; do sleep 0.1; done
url="rtsp://127.0.0.1:$(awk '/ready/ { print $2 }' "$work/server")/test"

cpu() { "$bench" "$url" "$seconds" "$@" | awk '/engine cpu ms\/frame/ { print $4 }'; }
for run in 1 2 3; do
    echo "plain $(cpu)" >>"$work/figures"
    echo "record $(cpu --record "$work/rec")" >>"$work/figures"
done
median() { awk -v kind="$1" '$1 == kind { print $2 }' "$work/figures" | sort -n | sed -n 2p; }
plain=$(median plain)
record=$(median record)
echo "input: $url, ${seconds} s per run, 640x512 25 fps H.264 with B-frames"
echo "engine cpu ms/frame without recording: $plain (runs: $(awk '$1 == "plain" { printf "%s ", $2 }' "$work/figures"))"
echo "engine cpu ms/frame with recording:    $record (runs: $(awk '$1 == "record" { printf "%s ", $2 }' "$work/figures"))"
echo "recorded: $(du -sh "$work/rec" | cut -f1)"
echo "ratio $(echo "$record $plain" | awk '{ printf "%.3f", $1 / $2 }')"

#!/usr/bin/env bash
# Plays a short file with sound RUNS times (default 300) through `tarn-tool play --audio` on a private
# PulseAudio server with a null sink, and counts the runs that ended by a signal (an abort at exit, where
# the sound server's thread and the exit handlers meet) and the runs that failed otherwise. Goal: 0 and 0.
# Exits 1 when either count is above 0.
set -euo pipefail
cd "$(dirname "$0")/.."
runs=${1:-300}
tool=${TARN_TOOL:-build/bin/tarn-tool}
work=$(mktemp -d)
export XDG_RUNTIME_DIR=$work/run
mkdir -m 700 "$XDG_RUNTIME_DIR"
cleanup() {
    pulseaudio --kill >/dev/null 2>&1 || true
    rm -rf "$work"
}
trap cleanup EXIT
pulseaudio -n --daemonize=yes --exit-idle-time=-1 --disallow-exit --log-target=stderr \
    -L module-native-protocol-unix -L "module-null-sink sink_name=tarn rate=48000" -L module-always-sink \
    2>/dev/null
for _ in $(seq 100); do pactl info >/dev/null 2>&1 && break; sleep 0.05; done
# A copy of its own, so that a rebuild meanwhile does not pull the program from under the runs.
cp "$tool" "$work/tarn-tool"
tool=$work/tarn-tool
ffmpeg -v error -y -f lavfi -i testsrc=size=160x120:rate=25 -f lavfi -i sine=f=440:r=44100 -t 0.4 \
    -c:v libx264 -pix_fmt yuv420p -c:a aac "$work/clip.mp4"

aborts=0
failures=0
for i in $(seq "$runs"); do
    set +e
    "$tool" play "$work/clip.mp4" --audio >/dev/null 2>"$work/err"
    code=$?
    set -e
    if [ $code -ge 128 ]; then
        aborts=$((aborts + 1))
        echo "run $i: signal $((code - 128)): $(tail -n 1 "$work/err")"
    elif [ $code -ne 0 ]; then
        failures=$((failures + 1))
        echo "run $i: exit $code: $(tail -n 1 "$work/err")"
    fi
done
echo "runs $runs  aborts $aborts (goal 0)  other failures $failures (goal 0)"
[ $aborts -eq 0 ] && [ $failures -eq 0 ]

#!/usr/bin/env bash
# scripts/fuzz.sh SECONDS [TARGET...]: builds the libFuzzer targets of fuzz/ with their seed corpora into
# build-fuzz/ (clang 14, -DTARN_FUZZ=ON; configured the first time) and runs each target (all of them
# by default) for SECONDS, one after the other, on a fresh copy of its seeds. Each run's log goes to
# build-fuzz/fuzz-logs/TARGET.log, what a run finds to build-fuzz/fuzz-artifacts/TARGET-crash-... (or
# leak-, timeout-, oom-). Exits non-zero when any target found something (a crash, a sanitizer report,
# a leak, a time-out of more than 10 s or more than 2 GB of memory for one input), naming the target and
# the artifact; `build-fuzz/fuzz/TARGET ARTIFACT` replays it.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:?usage: scripts/fuzz.sh SECONDS [TARGET...]}
shift
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(fuzz_media_input fuzz_merge_readers fuzz_media_url fuzz_adts_header fuzz_thermal_frame)

scripts/install-deps.sh
dir=build-fuzz
if [ ! -f "$dir/CMakeCache.txt" ]; then
    CC=clang-14 CXX=clang++-14 cmake -S . -B "$dir" -DTARN_FUZZ=ON
fi
cmake --build "$dir" -j2 --target fuzz

artifacts=$dir/fuzz-artifacts
logs=$dir/fuzz-logs
mkdir -p "$artifacts" "$logs"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# UndefinedBehaviorSanitizer's reports come with their stack.
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1}

found=()
for target in "${targets[@]}"; do
    # The run adds what it finds interesting to its copy; the seeds stay as they were built.
    corpus=$work/$target
    mkdir -p "$corpus"
    cp -R "$dir/fuzz-seeds/$target/." "$corpus/"
    log=$logs/$target.log
    touch "$work/start"
    echo "fuzz.sh: $target for $seconds s"
    status=0
    "$dir/fuzz/$target" -max_total_time="$seconds" -rss_limit_mb=2048 -timeout=10 -print_final_stats=1 \
        -artifact_prefix="$artifacts/$target-" "$corpus" >"$log" 2>&1 || status=$?
    grep -E '^#[0-9]+[[:space:]]+DONE|^stat::(number_of_executed_units|average_exec_per_sec|peak_rss_mb)' \
        "$log" || true
    if [ $status -ne 0 ]; then
        new=$(find "$artifacts" -name "$target-*" -newer "$work/start" -type f | head -n 1)
        grep -E '^==[0-9]+==ERROR|^SUMMARY|runtime error|Test unit written' "$log" | head -n 5 || true
        echo "fuzz.sh: $target FOUND something (exit $status): artifact ${new:-none}, log $log"
        found+=("$target")
    fi
done
if [ ${#found[@]} -gt 0 ]; then
    echo "fuzz.sh: findings in: ${found[*]}"
    exit 1
fi
echo "fuzz.sh: no findings in ${#targets[@]} targets"

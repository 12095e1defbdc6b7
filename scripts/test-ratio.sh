#!/usr/bin/env bash
# Prints the size of the test suite against the code it tests: non-blank lines of C++, QML, CMake and
# scripts under tests/ against the same kinds of file everywhere else in the tracked tree.
set -euo pipefail
cd "$(dirname "$0")/.."
count() {
    git ls-files -- "$@" |
        grep -E '\.(cpp|h|c|qml|cmake|sh|py)$|CMakeLists\.txt$|^\.ci/run$' |
        xargs -r grep -hcv '^[[:space:]]*$' | awk '{ n += $1 } END { print n + 0 }'
}
tests=$(count tests)
code=$(count . ':!tests')
awk -v t="$tests" -v c="$code" 'BEGIN { printf "tests %d lines, code %d lines, ratio %.2f\n", t, c, t / c }'

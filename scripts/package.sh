#!/usr/bin/env bash
# Builds the Debian package of the programs into build/ (cpack -G DEB) and prints its path.
# Install it with: sudo apt-get install ./build/tarn-player_VERSION_ARCH.deb
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
dir=$(scripts/build.sh | tail -n 1)
cd "$dir"
rm -f ./*.deb
cpack -G DEB >&2
ls "$PWD"/*.deb

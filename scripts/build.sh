#!/usr/bin/env bash
# Configures and builds Wendral with its tests into ./build (or $WENDRAL_BUILD_DIR).
set -euo pipefail
here="$(cd "$(dirname "$0")/.." && pwd)"
build="${WENDRAL_BUILD_DIR:-$here/build}"
cmake -S "$here" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DWENDRAL_BUILD_TESTS=ON >/dev/null
cmake --build "$build" -j "$(nproc)"

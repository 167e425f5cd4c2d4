#!/bin/sh
# Builds the DevTools engine's libFuzzer target with clang in a build folder of
# its own and runs it for a bounded time. Exits non-zero when the fuzzer finds
# a crash, a sanitizer report, a broken invariant (bounds, a popup left held),
# a leak or a hang; the input that did it is left in the artifacts folder.
#
#   scripts/fuzz-cdpengine.sh [seconds]    (default 60)
#   WENDRAL_FUZZ_BUILD=/path/to/build      (default $TMPDIR/wendral-fuzz-build)
set -eu

src=$(cd "$(dirname "$0")/.." && pwd)
seconds=${1:-60}
build=${WENDRAL_FUZZ_BUILD:-${TMPDIR:-/tmp}/wendral-fuzz-build}
corpus=$build/fuzz/cdpengine-corpus
artifacts=$build/fuzz/artifacts

CC=clang CXX=clang++ cmake -S "$src" -B "$build" -G Ninja -DWENDRAL_FUZZ=ON \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
ninja -C "$build" fuzz_cdpengine

mkdir -p "$corpus" "$artifacts"
export LSAN_OPTIONS="suppressions=$src/tests/fuzz/lsan.supp${LSAN_OPTIONS:+:$LSAN_OPTIONS}"
# The first folder collects new inputs; the seeds are only read.
exec "$build/tests/fuzz/fuzz_cdpengine" \
    -max_total_time="$seconds" -timeout=5 -rss_limit_mb=2048 -max_len=16384 \
    -dict="$src/tests/fuzz/cdpengine.dict" -print_final_stats=1 \
    -artifact_prefix="$artifacts/" \
    "$corpus" "$src/tests/fuzz/cdpengine-seeds"

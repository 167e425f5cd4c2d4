#!/bin/sh
# Builds the RTF reader's libFuzzer target with clang in a build folder of its
# own and runs it for a bounded time. Exits non-zero when the fuzzer finds a
# crash, a sanitizer report, a leak, a hang or runaway memory; the input that
# did it is left in the artifacts folder.
#
#   scripts/fuzz-rtf.sh [seconds]          (default 60)
#   WENDRAL_FUZZ_BUILD=/path/to/build      (default $TMPDIR/wendral-fuzz-build)
set -eu

src=$(cd "$(dirname "$0")/.." && pwd)
seconds=${1:-60}
build=${WENDRAL_FUZZ_BUILD:-${TMPDIR:-/tmp}/wendral-fuzz-build}
corpus=$build/fuzz/rtf-corpus
seeds=$build/fuzz/rtf-seeds
artifacts=$build/fuzz/artifacts

CC=clang CXX=clang++ cmake -S "$src" -B "$build" -G Ninja -DWENDRAL_FUZZ=ON \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
ninja -C "$build" fuzz_rtf

mkdir -p "$corpus" "$artifacts"
rm -rf "$seeds"
mkdir -p "$seeds"
for f in "$src"/tests/data/rtf/*.rtf "$src"/assets/programfiles/Help.rtf; do
    [ -f "$f" ] && cp "$f" "$seeds/"
done

# The first folder collects new inputs; the seeds are only read.
export LSAN_OPTIONS="suppressions=$src/tests/fuzz/lsan.supp${LSAN_OPTIONS:+:$LSAN_OPTIONS}"
exec "$build/tests/fuzz/fuzz_rtf" \
    -max_total_time="$seconds" -timeout=5 -rss_limit_mb=2048 -max_len=65536 \
    -dict="$src/tests/fuzz/rtf.dict" -print_final_stats=1 \
    -artifact_prefix="$artifacts/" \
    "$corpus" "$seeds"

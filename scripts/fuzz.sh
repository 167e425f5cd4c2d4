#!/bin/sh
# Builds every libFuzzer target with clang in a build folder of its own and
# runs each one for a bounded time, one after the other. Exits non-zero when a
# target does not build or a fuzzer finds a crash, a sanitizer report, a leak,
# a hang, runaway memory or a broken property; the input that did it is left
# in the artifacts folder and the end of its log is printed.
#
#   scripts/fuzz.sh [seconds-per-target]   (default 30)
#
#   WENDRAL_FUZZ_BUILD=folder   the clang build (default: the build folder
#                               $WENDRAL_BUILD_DIR or ./build, with "-fuzz")
#   WENDRAL_FUZZ_TARGETS="fuzz_a fuzz_b"   only these (default: every fuzz_*
#                               executable the build defines)
#   WENDRAL_FUZZ_ARGS="..."     more libFuzzer options for every run
#
# Target fuzz_<name> starts from the seeds in tests/fuzz/corpus/<name>/ and
# uses the dictionary tests/fuzz/<name>.dict when there is one; what it finds
# is kept in <build>/fuzz/corpus/<name>/ for the next run.
set -eu

src=$(cd "$(dirname "$0")/.." && pwd)
seconds=${1:-30}
build=${WENDRAL_FUZZ_BUILD:-${WENDRAL_BUILD_DIR:-$src/build}-fuzz}
jobs=$(nproc 2>/dev/null || echo 2)
[ "$jobs" -gt 2 ] && jobs=2

launcher=
command -v ccache >/dev/null 2>&1 && launcher=-DCMAKE_CXX_COMPILER_LAUNCHER=ccache
# shellcheck disable=SC2086
CC=clang CXX=clang++ cmake -S "$src" -B "$build" -G Ninja -DWENDRAL_FUZZ=ON \
    -DWENDRAL_SANITIZE=address,undefined -DCMAKE_BUILD_TYPE=RelWithDebInfo $launcher >/dev/null

targets=${WENDRAL_FUZZ_TARGETS:-$(ninja -C "$build" -t targets all |
    sed -n 's/^\(fuzz_[A-Za-z0-9_]*\): .*/\1/p' | grep -v '_autogen' | sort -u)}
if [ -z "$targets" ]; then
    echo "fuzz: the build defines no fuzz targets" >&2
    exit 1
fi
# shellcheck disable=SC2086
ninja -C "$build" -j "$jobs" $targets >/dev/null

export LSAN_OPTIONS="suppressions=$src/tests/fuzz/lsan.supp${LSAN_OPTIONS:+:$LSAN_OPTIONS}"
status=0
for target in $targets; do
    name=${target#fuzz_}
    exe=$(find "$build" -type f -name "$target" -perm -u+x | head -n 1)
    if [ -z "$exe" ]; then
        echo "fuzz: $target was not built" >&2
        status=1
        continue
    fi
    corpus=$build/fuzz/corpus/$name
    artifacts=$build/fuzz/artifacts/$name
    log=$build/fuzz/logs/$target.log
    mkdir -p "$corpus" "$artifacts" "$(dirname "$log")"
    set --
    [ -d "$src/tests/fuzz/corpus/$name" ] && set -- "$src/tests/fuzz/corpus/$name"
    dict=
    for d in "$src/tests/fuzz/$name.dict" "$src/tests/fuzz/$target.dict"; do
        [ -f "$d" ] && dict=-dict=$d && break
    done
    # The first folder collects new inputs; the seeds are only read.
    # shellcheck disable=SC2086
    if "$exe" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -max_len=65536 \
        -print_final_stats=1 -artifact_prefix="$artifacts/" ${dict:+"$dict"} ${WENDRAL_FUZZ_ARGS:-} \
        "$corpus" "$@" >"$log" 2>&1; then
        result=ok
    else
        result=FAILED
        status=1
    fi
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)
    echo "fuzz: $target: ${runs:-?} runs in ${seconds} s: $result"
    if [ "$result" = FAILED ]; then
        tail -n 40 "$log" >&2
        echo "fuzz: the whole log is $log, the input in $artifacts/" >&2
    fi
done
exit $status

#!/usr/bin/env bash
# Builds Wendral and its tests with AddressSanitizer and UndefinedBehaviorSanitizer
# in a build folder of its own and runs the tests of the given labels there
# (default: unit and gui). The first sanitizer report ends the test that made
# it, with a failure.
#
#   scripts/sanitize.sh [label...]            e.g. scripts/sanitize.sh unit gui e2e
#
#   WENDRAL_SANITIZE_BUILD=folder   default: the build folder ($WENDRAL_BUILD_DIR
#                                   or ./build) with "-sanitize"
#   WENDRAL_SANITIZE=list           default: address,undefined
#
# Leaks: LeakSanitizer runs with tests/sanitize/lsan.supp, which names only
# memory that libraries outside this program keep for the life of the process.
set -euo pipefail
here="$(cd "$(dirname "$0")/.." && pwd)"
build="${WENDRAL_SANITIZE_BUILD:-${WENDRAL_BUILD_DIR:-$here/build}-sanitize}"
sanitizers="${WENDRAL_SANITIZE:-address,undefined}"
labels=("$@")
[ ${#labels[@]} -eq 0 ] && labels=(unit gui)

launcher=()
command -v ccache >/dev/null 2>&1 && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
cmake -S "$here" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DWENDRAL_BUILD_TESTS=ON \
  -DWENDRAL_SANITIZE="$sanitizers" "${launcher[@]}" >/dev/null

# Only the test programs of those labels (each test is tests/<label>/tst_*.cpp)
# and what they run.
targets=(wendral wendral_program_files)
for label in "${labels[@]}"; do
  for source in "$here"/tests/"$label"/tst_*.cpp; do
    [ -f "$source" ] && targets+=("$(basename "$source" .cpp)")
  done
done
jobs=$(nproc)
[ "$jobs" -gt 2 ] && jobs=2
cmake --build "$build" -j "$jobs" --target "${targets[@]}"

suppressions="$here/tests/sanitize/lsan.supp"
export ASAN_OPTIONS="halt_on_error=1:detect_leaks=1:check_initialization_order=1${ASAN_OPTIONS:+:$ASAN_OPTIONS}"
export UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1${UBSAN_OPTIONS:+:$UBSAN_OPTIONS}"
export LSAN_OPTIONS="suppressions=$suppressions:print_suppressions=0${LSAN_OPTIONS:+:$LSAN_OPTIONS}"
export DBUS_SESSION_BUS_ADDRESS=disabled:

pattern=$(IFS='|'; echo "^(${labels[*]})\$")
cd "$build"
ctest --output-on-failure -j 2 -L "$pattern"

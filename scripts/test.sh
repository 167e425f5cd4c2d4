#!/usr/bin/env bash
# Installs what the tests need (the test set of scripts/install-deps.sh), builds
# Wendral with its tests and runs every test: unit, gui (offscreen), e2e (own
# Xvfb, real Chromium), package (the installed tree and the .deb); the unit and
# gui tests once more under the sanitizers; then every fuzz target for 30 seconds.
set -euo pipefail
here="$(cd "$(dirname "$0")/.." && pwd)"
build="${WENDRAL_BUILD_DIR:-$here/build}"
"$here/scripts/install-deps.sh" test
"$here/scripts/build.sh"
export DBUS_SESSION_BUS_ADDRESS=disabled:
status=0
# Each layer includes only the layers below it and builds on them alone.
"$here/scripts/check-layers.sh" "$build" || status=$?
# Unit and widget tests run two at a time; browser and X server tests run alone.
(cd "$build" && ctest --output-on-failure -j 2) || status=$?
# Unit and widget tests again, built with AddressSanitizer and
# UndefinedBehaviorSanitizer in a tree of their own beside this one.
WENDRAL_SANITIZE_BUILD="${build}-sanitize" "$here/scripts/sanitize.sh" unit gui || status=$?
# The clang fuzz build lives beside this clone's build, never shared between clones.
WENDRAL_FUZZ_BUILD="${build}-fuzz" "$here/scripts/fuzz.sh" 30 || status=$?
exit $status

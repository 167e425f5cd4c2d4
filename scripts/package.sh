#!/usr/bin/env bash
# Builds the Debian package: installs the package set of scripts/install-deps.sh
# (the build set and dpkg-dev), builds the program alone in Release and runs
# CPack. Prints the path of the .deb; install it with
#   sudo apt install ./wendral_<version>_<arch>.deb
#
#   WENDRAL_RELEASE_BUILD_DIR=DIR            build folder (default ./build-release, shared with run.sh)
set -euo pipefail
here="$(cd "$(dirname "$0")/.." && pwd)"
build="${WENDRAL_RELEASE_BUILD_DIR:-$here/build-release}"

"$here/scripts/install-deps.sh" package >&2
cmake -S "$here" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DWENDRAL_BUILD_TESTS=OFF >/dev/null
cmake --build "$build" --target wendral wendral-web >&2
rm -f "$build"/wendral_*.deb
(cd "$build" && cpack -G DEB) >&2
deb=$(find "$build" -maxdepth 1 -name 'wendral_*.deb' | head -n 1)
[ -n "$deb" ] || { echo "package.sh: no package was built" >&2; exit 1; }
echo "$deb"

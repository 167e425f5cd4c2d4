#!/usr/bin/env bash
# Installs what building and running Wendral needs (the build set of
# scripts/install-deps.sh: no test tools), builds the program alone in Release,
# installs it into a user prefix and starts the installed program.
#
#   scripts/run.sh [wendral options]         e.g. scripts/run.sh --minimized
#   WENDRAL_PREFIX=DIR                       where to install (default ~/.local)
#   WENDRAL_RELEASE_BUILD_DIR=DIR            build folder (default ./build-release)
set -euo pipefail
here="$(cd "$(dirname "$0")/.." && pwd)"
prefix="${WENDRAL_PREFIX:-$HOME/.local}"
build="${WENDRAL_RELEASE_BUILD_DIR:-$here/build-release}"

"$here/scripts/install-deps.sh" build
cmake -S "$here" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DWENDRAL_BUILD_TESTS=OFF >/dev/null
cmake --build "$build" --target wendral wendral-web
cmake --install "$build" --strip --prefix "$prefix" >/dev/null

# Desktops watch share/applications; the cache is only refreshed where the tool is there.
if command -v update-desktop-database >/dev/null 2>&1; then
  update-desktop-database -q "$prefix/share/applications" 2>/dev/null || true
fi
echo "run.sh: installed into $prefix (menu entry: Wendral; remove with: xargs rm < $build/install_manifest.txt)"
case ":$PATH:" in
  *":$prefix/bin:"*) ;;
  *) echo "run.sh: $prefix/bin is not on PATH yet; it is after the next login when ~/.profile adds it" ;;
esac
exec "$prefix/bin/wendral" "$@"

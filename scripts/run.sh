#!/usr/bin/env bash
# Installs what Wendral needs, builds it and starts it.
set -euo pipefail
here="$(cd "$(dirname "$0")/.." && pwd)"
"$here/scripts/install-deps.sh"
"$here/scripts/build.sh"
exec "${WENDRAL_BUILD_DIR:-$here/build}/wendral"

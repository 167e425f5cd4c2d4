#!/bin/sh
# Shows the website window (on a local test page) and the About window on a
# private Xvfb display (openbox draws the frames) and saves
# docs/screenshots/website.png and docs/screenshots/about.png.
#
#   scripts/screenshot-windows.sh [build-folder]      (default: build)
#   WENDRAL_NO_BUILD=1 skips rebuilding the tests.
set -eu

src=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$src/build}
shots=$src/docs/screenshots
mkdir -p "$shots"

if [ -z "${WENDRAL_NO_BUILD:-}" ]; then
    ninja -C "$build" tst_website tst_about wendral_program_files >/dev/null
fi

. "$(dirname "$0")/xsession.sh"
start_xsession 1024x768x24

export DISPLAY=$display QT_QPA_PLATFORM=xcb DBUS_SESSION_BUS_ADDRESS=disabled: \
    QT_LOGGING_RULES=qt.webenginecontext.info=false
"$build/tests/tst_website" --screenshot "$shots/website.png"
echo "saved $shots/website.png"
"$build/tests/tst_about" --screenshot "$shots/about.png"
echo "saved $shots/about.png"

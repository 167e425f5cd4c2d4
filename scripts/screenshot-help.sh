#!/bin/sh
# Shows the help window with the shipped Help.rtf on a private Xvfb display
# (openbox draws the frame) and saves docs/screenshots/help.png.
#
#   scripts/screenshot-help.sh [build-folder]      (default: build)
#   WENDRAL_NO_BUILD=1 skips rebuilding the test.
set -eu

src=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$src/build}
out=$src/docs/screenshots/help.png
mkdir -p "$(dirname "$out")"

if [ -z "${WENDRAL_NO_BUILD:-}" ]; then
    ninja -C "$build" tst_helpwindow wendral_program_files >/dev/null
fi

. "$(dirname "$0")/xsession.sh"
start_xsession 1280x1024x24

DISPLAY=$display QT_QPA_PLATFORM=xcb DBUS_SESSION_BUS_ADDRESS=disabled: WENDRAL_SCREENSHOT=$out \
    "$build/tests/tst_helpwindow" screenshot
echo "saved $out"

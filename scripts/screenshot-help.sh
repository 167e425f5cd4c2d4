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

tmp=$(mktemp -d)
xvfb=
wm=
cleanup() {
    [ -n "$wm" ] && kill "$wm" 2>/dev/null || true
    [ -n "$xvfb" ] && kill "$xvfb" 2>/dev/null || true
    rm -rf "$tmp"
}
trap cleanup EXIT INT TERM

# -displayfd: Xvfb picks a free display and writes its number.
Xvfb -displayfd 3 -noreset -screen 0 1280x1024x24 -nolisten tcp 3>"$tmp/display" 2>/dev/null &
xvfb=$!
i=0
while [ ! -s "$tmp/display" ]; do
    i=$((i + 1))
    [ $i -gt 100 ] && { echo "Xvfb did not start" >&2; exit 1; }
    sleep 0.1
done
display=:$(head -n 1 "$tmp/display")

HOME=$tmp DISPLAY=$display openbox >/dev/null 2>&1 &
wm=$!
sleep 1

DISPLAY=$display QT_QPA_PLATFORM=xcb DBUS_SESSION_BUS_ADDRESS=disabled: WENDRAL_SCREENSHOT=$out \
    "$build/tests/tst_helpwindow" screenshot
echo "saved $out"

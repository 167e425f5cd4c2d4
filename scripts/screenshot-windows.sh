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
Xvfb -displayfd 3 -noreset -screen 0 1024x768x24 -nolisten tcp 3>"$tmp/display" 2>/dev/null &
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

export DISPLAY=$display QT_QPA_PLATFORM=xcb DBUS_SESSION_BUS_ADDRESS=disabled: \
    QT_LOGGING_RULES=qt.webenginecontext.info=false
"$build/tests/tst_website" --screenshot "$shots/website.png"
echo "saved $shots/website.png"
"$build/tests/tst_about" --screenshot "$shots/about.png"
echo "saved $shots/about.png"

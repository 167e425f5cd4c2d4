#!/bin/bash
# Screenshots of the real program on a private Xvfb display, with openbox
# drawing the window frames and trayer as the notification area:
#   docs/screenshots/splash.png       the start-up window
#   docs/screenshots/main-window.png  the main window after start (the banner
#                                     strip shows what the engine shows for the
#                                     unreachable banner host)
#   docs/screenshots/tray-menu.png    the tray menu (only when it is missing,
#                                     or with WENDRAL_TRAY_MENU=1)
#   docs/screenshots/prompt.png       the setup-mode prompt for ads.example.com
#                                     in front of the main window: a headless
#                                     Chromium with its debugging port opens a
#                                     popup from that site, which Wendral sees
#
#   scripts/screenshots.sh [build-folder]      (default: build)
#
# Needs Xvfb, openbox, trayer, xdotool, x11-utils, imagemagick, chromium and
# python3. Every program runs with a private HOME; where the machine allows
# it, Wendral runs in a PID namespace of its own so that it does not watch
# browsers that other programs on this machine started.
set -euo pipefail

src=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$src/build}" && pwd)
shots=$src/docs/screenshots
program=$build/wendral
title='Wendral by Brindlemark'
mkdir -p "$shots"
[ -x "$program" ] || { echo "no program at $program: build it first" >&2; exit 1; }

. "$(dirname "$0")/xsession.sh"
start_xsession 1024x768x24

failed=0
fail() { echo "screenshots: $*" >&2; failed=1; }

# ---- helpers
# A fresh private HOME with the given settings lines.
new_home() {
    local home=$tmp/$1
    shift
    mkdir -p "$home/config/Wendral" "$home/data" "$home/cache" "$home/runtime"
    chmod 700 "$home/runtime"
    { echo '[Settings]'; printf '%s\n' "$@"; } >"$home/config/Wendral/Wendral.conf"
    echo "$home"
}

in_home() {
    local home=$1
    shift
    HOME=$home XDG_CONFIG_HOME=$home/config XDG_DATA_HOME=$home/data XDG_CACHE_HOME=$home/cache \
        XDG_RUNTIME_DIR=$home/runtime "$@"
}

ns=()
if unshare --pid --fork --mount-proc true 2>/dev/null; then
    ns=(unshare --pid --fork --mount-proc --kill-child=SIGKILL)
fi

# Starts Wendral in home; sets program_pid to the program itself.
start_program() {
    local home=$1 outer
    in_home "$home" "${ns[@]}" "$program" >"$home/wendral.log" 2>&1 &
    outer=$!
    track_pid "$outer"
    program_pid=$outer
    if [ ${#ns[@]} -gt 0 ]; then
        program_pid=
        for _ in $(seq 100); do
            program_pid=$(pgrep -P "$outer" || true)
            [ -n "$program_pid" ] && break
            sleep 0.05
        done
    fi
}

stop_program() {
    [ -n "${program_pid:-}" ] || return 0
    kill -TERM "$program_pid" 2>/dev/null || true
    for _ in $(seq 100); do kill -0 "$program_pid" 2>/dev/null || break; sleep 0.1; done
    program_pid=
}

# The first visible window whose name matches, waiting up to $2 seconds.
wait_window() {
    timeout "$2" xdotool search --sync --onlyvisible --name "$1" 2>/dev/null | head -n 1
}

# The window manager's frame around a client window (the root's child).
frame_of() {
    local w=$1 parent root
    root=$(xwininfo -root | awk '/Window id:/ {print $4}')
    while :; do
        parent=$(xwininfo -children -id "$w" | awk '/Parent window id:/ {print $4}')
        [ -z "$parent" ] || [ "$parent" = "$root" ] && break
        w=$parent
    done
    echo "$w"
}

# "x y w h" of a window on the screen.
geometry_of() {
    xwininfo -id "$1" | awk '/Absolute upper-left X:/ {x=$4} /Absolute upper-left Y:/ {y=$4}
        /Width:/ {w=$2} /Height:/ {h=$2} END {print x, y, w, h}'
}

# The program's popped-up menu: a mapped override-redirect window of its own.
popup_menu() {
    local w info
    for w in $(xwininfo -root -children | awk '/"wendral" "Wendral"/ {print $1}'); do
        info=$(xwininfo -id "$w")
        if grep -q 'Override Redirect State: yes' <<<"$info" && grep -q 'Map State: IsViewable' <<<"$info"; then
            echo "$w"
            return 0
        fi
    done
    return 0
}

# Crops the screen to the box around the given windows (plus a margin).
shoot_windows() {
    local out=$1 x0=100000 y0=100000 x1=0 y1=0 x y w h
    shift
    for win in "$@"; do
        read -r x y w h < <(geometry_of "$win")
        ((x < x0)) && x0=$x
        ((y < y0)) && y0=$y
        ((x + w > x1)) && x1=$((x + w))
        ((y + h > y1)) && y1=$((y + h))
    done
    import -window root -crop "$((x1 - x0))x$((y1 - y0))+$x0+$y0" +repage "$out"
}

# ---- run 1: splash, main window, tray menu
home=$(new_home run1 showHelp=0)
HOME=$tmp/wm trayer --edge top --align right --widthtype pixel --width 120 --height 32 \
    --transparent false >/dev/null 2>&1 &
track_pid $!
sleep 1
start_program "$home"

# The splash is the first window the program shows, and only for a while:
# look often, and take it once it holds a picture (not one plain colour).
splash_saved=
for _ in $(seq 1500); do
    for w in $(xdotool search --onlyvisible --class wendral 2>/dev/null || true); do
        [ "$(xdotool getwindowname "$w" 2>/dev/null || true)" = "$title" ] && break 2
        if import -window "$w" "$tmp/splash.png" 2>/dev/null &&
            [ "$(convert "$tmp/splash.png" -format '%[fx:standard_deviation > 0.02]' info:)" = 1 ]; then
            cp "$tmp/splash.png" "$shots/splash.png"
            splash_saved=1
            echo "saved $shots/splash.png"
            break 2
        fi
    done
    sleep 0.02
done
[ -n "$splash_saved" ] || fail "the splash window was not seen"

main=$(wait_window "^$title\$" 60 || true)
if [ -n "$main" ]; then
    sleep 6 # the banner strip gives up on its host and shows the engine's page
    import -window "$(frame_of "$main")" "$shots/main-window.png" && echo "saved $shots/main-window.png"
else
    fail "the main window did not show"
fi

if [ ! -e "$shots/tray-menu.png" ] || [ "${WENDRAL_TRAY_MENU:-0}" = 1 ]; then
    # The icon is the program's small window inside the tray panel.
    icon=$(xwininfo -root -tree |
        awk '/"wendral" "Wendral"/ && !found {split($(NF-1), g, /[x+]/); if (g[1] <= 64 && g[2] <= 64) {print $1; found = 1}}')
    if [ -n "$icon" ]; then
        read -r x y w h < <(geometry_of "$icon")
        xdotool mousemove $((x + w / 2)) $((y + h / 2)) click 1
        menu=
        for _ in $(seq 50); do
            menu=$(popup_menu)
            [ -n "$menu" ] && break
            sleep 0.1
        done
        if [ -n "$menu" ]; then
            sleep 0.3
            # The menu with the tray panel above it.
            panel=$(frame_of "$icon")
            shoot_windows "$shots/tray-menu.png" "$menu" "$panel" && echo "saved $shots/tray-menu.png"
            xdotool key Escape
        else
            fail "the tray menu did not open"
        fi
    else
        fail "the tray icon was not found"
    fi
fi
stop_program

# ---- run 2: the setup-mode prompt, in front of the main window
home=$(new_home run2 showHelp=0)
mkdir -p "$tmp/site"
cat >"$tmp/site/index.html" <<'EOF'
<!doctype html><title>ads</title><p>A page that opens a popup after a while.</p>
<script>setTimeout(function () { window.open('/popup.html', '_blank', 'width=300,height=200'); }, 5000);</script>
EOF
echo '<!doctype html><title>popup</title><p>popup</p>' >"$tmp/site/popup.html"
(cd "$tmp/site" && exec python3 -u -m http.server 0 --bind 127.0.0.1) >"$tmp/http.log" 2>&1 &
track_pid $!
port=
for _ in $(seq 100); do
    port=$(sed -n 's/.* port \([0-9]*\).*/\1/p' "$tmp/http.log" | head -n 1)
    [ -n "$port" ] && break
    sleep 0.1
done

start_program "$home"
main=$(wait_window "^$title\$" 60 || true)
if [ -n "$port" ] && [ -n "$main" ]; then
    sandbox=()
    [ "$(id -u)" = 0 ] && sandbox=(--no-sandbox)
    # The browser's default profile folder is one Wendral watches.
    in_home "$home" chromium --headless=new "${sandbox[@]}" --disable-gpu --no-first-run \
        --disable-background-networking --disable-component-update --disable-sync --disable-popup-blocking \
        --remote-debugging-port=0 --user-data-dir="$home/config/chromium" \
        --host-resolver-rules="MAP ads.example.com 127.0.0.1:$port" http://ads.example.com/ \
        >"$home/chromium.log" 2>&1 &
    track_pid $!
    prompt=$(wait_window '^Popup Detected!$' 60 || true)
    if [ -n "$prompt" ]; then
        sleep 0.5
        shoot_windows "$shots/prompt.png" "$(frame_of "$main")" "$(frame_of "$prompt")" &&
            echo "saved $shots/prompt.png"
    else
        fail "the prompt did not appear"
    fi
else
    fail "no web server or no main window for the prompt"
fi
stop_program

exit $failed

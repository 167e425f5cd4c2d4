# Sourced by the screenshot scripts: a private Xvfb display (its number picked
# by Xvfb itself through -displayfd) with openbox drawing window frames.
#   start_xsession [WxHxD]   sets $tmp (a temporary folder) and $display,
#                            and stops everything again when the script ends.

xvfb=
wm=
tmp=
cleanup_xsession() {
    [ -n "$wm" ] && kill "$wm" 2>/dev/null || true
    [ -n "$xvfb" ] && kill "$xvfb" 2>/dev/null || true
    [ -n "$tmp" ] && rm -rf "$tmp"
}

start_xsession() {
    local screen=${1:-1280x1024x24}
    tmp=$(mktemp -d)
    trap cleanup_xsession EXIT INT TERM
    Xvfb -displayfd 3 -noreset -screen 0 "$screen" -nolisten tcp 3>"$tmp/display" 2>/dev/null &
    xvfb=$!
    local i=0
    while [ ! -s "$tmp/display" ]; do
        i=$((i + 1))
        [ $i -gt 100 ] && { echo "Xvfb did not start" >&2; exit 1; }
        sleep 0.1
    done
    display=:$(head -n 1 "$tmp/display")
    HOME=$tmp DISPLAY=$display openbox >/dev/null 2>&1 &
    wm=$!
    sleep 1
}

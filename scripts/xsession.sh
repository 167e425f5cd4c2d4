# Sourced by the screenshot and benchmark scripts: a private Xvfb display (its
# number picked by Xvfb itself through -displayfd) with openbox drawing window
# frames, and everything the script started stopped again when it ends.
#   start_xsession [WxHxD]   sets $tmp (a temporary folder) and $display, exports
#                            DISPLAY and a quiet test environment
#   track_pid PID            PID is stopped too at the end (newest first)

xsession_pids=
tmp=

track_pid() {
    xsession_pids="$1 $xsession_pids"
}

cleanup_xsession() {
    for pid in $xsession_pids; do kill "$pid" 2>/dev/null || true; done
    [ -n "$xsession_pids" ] && sleep 0.3
    for pid in $xsession_pids; do kill -9 "$pid" 2>/dev/null || true; done
    [ -n "$tmp" ] && rm -rf "$tmp"
}

start_xsession() {
    screen=${1:-1280x1024x24}
    tmp=$(mktemp -d)
    trap cleanup_xsession EXIT
    trap 'exit 130' INT TERM
    Xvfb -displayfd 3 -noreset -screen 0 "$screen" -nolisten tcp 3>"$tmp/display" 2>/dev/null &
    track_pid $!
    i=0
    while [ ! -s "$tmp/display" ]; do
        i=$((i + 1))
        [ $i -gt 100 ] && { echo "Xvfb did not start" >&2; exit 1; }
        sleep 0.1
    done
    display=:$(head -n 1 "$tmp/display")
    export DISPLAY=$display DBUS_SESSION_BUS_ADDRESS=disabled: QT_LOGGING_RULES=qt.webenginecontext.info=false
    unset QT_QPA_PLATFORM
    mkdir -p "$tmp/wm"
    HOME=$tmp/wm openbox --sm-disable >/dev/null 2>&1 &
    track_pid $!
    sleep 1
}

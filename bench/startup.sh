#!/bin/bash
# Start-up benchmark of the real program under a private Xvfb with openbox and
# a notification area (trayer). Every run starts from a fresh HOME (a first
# start without the help window) and measures:
#
#   mapped       process start -> the main window is viewable (the splash's
#                own 150 ms included)
#   drawn        process start -> the banner strip shows its page, served by a
#                local server (bench/startup_probe serve) to which the web
#                engine is pointed with Chromium's standard --proxy-server
#                switch in QTWEBENGINE_CHROMIUM_FLAGS
#   PSS shown    peak PSS of the whole process tree (the program, its web
#                helper and the engine's processes) for SECONDS after the
#                banner is drawn
#   PSS hidden   peak PSS of the tree for SECONDS once the window is hidden
#                to the tray (its "Minimize to Taskbar" button, clicked with
#                xdotool) and the web helper, if any, has ended; the website
#                window is never opened
#   exit         SIGTERM -> the program has ended
#
#   bench/startup.sh [-n RUNS] [-s SECONDS] BUILD [BUILD...]
#
# Give one build folder per variant, for instance this build and one of the
# main branch. Runs alternate between the builds (A B A B ...), after one
# warm-up run of each that is not counted; the table gives the median and the
# range of RUNS runs (default 5). The probe (bench/startup_probe) is taken from
# the first build that has one.
#
# PSS shares the pages used by several processes out between them, so the sum
# over the tree is what the tree costs; RSS would count shared libraries once
# per process.
#
# Where the machine allows, each run is in a PID namespace of its own so the
# program does not attach to browsers that other programs here started; the
# namespace adds a few milliseconds (WENDRAL_BENCH_NO_NAMESPACE=1 turns it off).
set -euo pipefail

runs=5
sample_seconds=3
while getopts "n:s:" opt; do
    case $opt in
    n) runs=$OPTARG ;;
    s) sample_seconds=$OPTARG ;;
    *) echo "usage: $0 [-n RUNS] [-s SECONDS] BUILD [BUILD...]" >&2; exit 2 ;;
    esac
done
shift $((OPTIND - 1))
[ $# -ge 1 ] || { echo "usage: $0 [-n RUNS] [-s SECONDS] BUILD [BUILD...]" >&2; exit 2; }
probe=
for b in "$@"; do
    [ -x "$b/wendral" ] || { echo "no program at $b/wendral" >&2; exit 1; }
    [ -z "$probe" ] && [ -x "$b/bench/startup_probe" ] && probe=$(cd "$b" && pwd)/bench/startup_probe
done
[ -n "$probe" ] || { echo "no bench/startup_probe in any of the builds (build the target startup_probe)" >&2; exit 1; }

title='Wendral by Brindlemark'
. "$(dirname "$0")/../scripts/xsession.sh"
start_xsession 1280x1024x24
trayer --edge top --align right --widthtype pixel --width 120 --height 32 --transparent false >/dev/null 2>&1 &
track_pid $!
"$probe" serve "$tmp/port" &
track_pid $!
for _ in $(seq 100); do [ -s "$tmp/port" ] && break; sleep 0.05; done
[ -s "$tmp/port" ] || { echo "the probe's server did not start" >&2; exit 1; }
export QTWEBENGINE_CHROMIUM_FLAGS="--proxy-server=127.0.0.1:$(cat "$tmp/port")"

ns=()
if [ -z "${WENDRAL_BENCH_NO_NAMESPACE:-}" ] && unshare --pid --fork --mount-proc true 2>/dev/null; then
    ns=(unshare --pid --fork --mount-proc --kill-child=SIGKILL)
fi

now_ms() { echo $((${EPOCHREALTIME/./} / 1000)); }

# PIDs of the tree below (and including) $1.
tree_pids() {
    ps -e -o pid=,ppid= | awk -v root="$1" '
        { parent[$1] = $2 }
        END {
            for (p in parent) {
                q = p
                while (q != root && (q in parent) && q > 1) q = parent[q]
                if (q == root) printf "%s ", p
            }
        }'
}

# Sum of PSS (KiB) over the tree below $1.
tree_pss() {
    local total=0 p v
    for p in $(tree_pids "$1"); do
        v=$(awk '/^Pss:/ {print $2; exit}' "/proc/$p/smaps_rollup" 2>/dev/null || true)
        total=$((total + ${v:-0}))
    done
    echo "$total"
}

# Peak of tree_pss over $2 seconds, sampled every ~50 ms.
peak_pss() {
    local root=$1 end peak=0 v
    end=$(($(now_ms) + $2 * 1000))
    while [ "$(now_ms)" -lt "$end" ]; do
        v=$(tree_pss "$root")
        ((v > peak)) && peak=$v
        sleep 0.05
    done
    echo "$peak"
}

helper_running() { # $1: the program's pid
    local p
    for p in $(tree_pids "$1"); do
        [ "$(cat "/proc/$p/comm" 2>/dev/null)" = wendral-web ] && return 0
    done
    return 1
}

# One run: prints "mapped drawn pss_shown pss_hidden exit" (ms, ms, KiB, KiB,
# ms; "-" where it could not be measured), or "fail".
one_run() {
    local program=$1 home=$2 outer pid t0 mapped drawn shown hidden window height ended
    mkdir -p "$home/config/Wendral" "$home/data" "$home/cache" "$home/runtime"
    chmod 700 "$home/runtime"
    printf '[Settings]\nshowHelp=0\n' >"$home/config/Wendral/Wendral.conf"
    t0=$(now_ms)
    "$probe" watch "$t0" 30000 >"$home/probe.out" &
    local watcher=$!
    HOME=$home XDG_CONFIG_HOME=$home/config XDG_DATA_HOME=$home/data XDG_CACHE_HOME=$home/cache \
        XDG_RUNTIME_DIR=$home/runtime "${ns[@]}" "$program" >"$home/wendral.log" 2>&1 &
    outer=$!
    track_pid "$outer"
    wait "$watcher" || true
    mapped=$(awk '$1 == "mapped" {print $2}' "$home/probe.out")
    drawn=$(awk '$1 == "drawn" {print $2}' "$home/probe.out")
    pid=$outer
    if [ ${#ns[@]} -gt 0 ]; then pid=$(pgrep -P "$outer" || true); fi
    if [ -z "$mapped" ] || [ "$mapped" = - ] || [ -z "$pid" ]; then
        kill -9 "$outer" 2>/dev/null || true
        echo fail
        return
    fi
    shown=$(peak_pss "$pid" "$sample_seconds")

    # Hide to the tray with the window's own button: "Minimize to Taskbar"
    # lies at (108, 4) of the client area, 101 x 65 pixels, below the menu bar.
    hidden=-
    window=$(xdotool search --onlyvisible --name "^$title\$" 2>/dev/null | head -n 1 || true)
    if [ -n "$window" ]; then
        height=$(xdotool getwindowgeometry "$window" | sed -n 's/.*Geometry: [0-9]*x\([0-9]*\).*/\1/p')
        xdotool mousemove --window "$window" 158 $((height - 532 + 36)) click 1
        for _ in $(seq 200); do
            xdotool search --onlyvisible --name "^$title\$" >/dev/null 2>&1 || break
            sleep 0.025
        done
        for _ in $(seq 200); do helper_running "$pid" || break; sleep 0.025; done
        if ! xdotool search --onlyvisible --name "^$title\$" >/dev/null 2>&1; then
            hidden=$(peak_pss "$pid" "$sample_seconds")
        fi
    fi

    local t1
    t1=$(now_ms)
    kill -TERM "$pid" 2>/dev/null || true
    ended=-
    for _ in $(seq 400); do kill -0 "$outer" 2>/dev/null || break; sleep 0.025; done
    if kill -0 "$outer" 2>/dev/null; then
        kill -9 "$outer" 2>/dev/null || true
    else
        ended=$(($(now_ms) - t1))
    fi
    echo "$mapped $drawn $shown $hidden $ended"
}

median() { sort -n | awk '{v[NR] = $1} END {if (NR == 0) print "-"; else if (NR % 2) print v[(NR + 1) / 2]; else print int((v[NR / 2] + v[NR / 2 + 1]) / 2)}'; }
range() { sort -n | awk 'NR == 1 {lo = $1} {hi = $1} END {if (NR) print lo "-" hi; else print "-"}'; }
mib() { awk '$1 != "-" {print int($1 / 1024)}'; }

echo "start-up benchmark: $runs runs per build (+1 warm-up), alternating; memory sampled every ~50 ms for ${sample_seconds} s"
echo "display $DISPLAY with openbox and trayer; PID namespace: $([ ${#ns[@]} -gt 0 ] && echo yes || echo no); load: $(cut -d' ' -f1-3 /proc/loadavg)"
labels=()
index=0
for build in "$@"; do
    labels+=("$(basename "$build")")
    : >"$tmp/results-$index"
    index=$((index + 1))
done
for i in $(seq 0 "$runs"); do
    index=0
    for build in "$@"; do
        label=${labels[$index]}
        home=$tmp/home-$index-$i
        result=$(one_run "$build/wendral" "$home")
        rm -rf "$home"
        if [ "$result" = fail ]; then
            echo "  $label run $i: the main window did not show" >&2
        else
            read -r mapped drawn shown hidden ended <<<"$result"
            kib() { [ "$1" = - ] && echo - || echo "$(($1 / 1024)) MiB"; }
            line="mapped $mapped ms, banner drawn ${drawn} ms, PSS shown $(kib "$shown"), hidden $(kib "$hidden"), exit $ended ms"
            if [ "$i" = 0 ]; then
                echo "  $label warm-up: $line"
            else
                echo "  $label run $i: $line"
                echo "$result" >>"$tmp/results-$index"
            fi
        fi
        index=$((index + 1))
    done
done

echo
printf '%-16s %4s  %-18s  %-18s  %-18s  %-18s  %s\n' build runs "mapped ms" "banner drawn ms" "PSS shown MiB" \
    "PSS hidden MiB" "exit ms"
index=0
for build in "$@"; do
    f=$tmp/results-$index
    col() { awk -v c="$1" '$c != "-" {print $c}' "$f"; }
    printf '%-16s %4d  %-18s  %-18s  %-18s  %-18s  %s\n' "${labels[$index]}" "$(wc -l <"$f")" \
        "$(col 1 | median) ($(col 1 | range))" "$(col 2 | median) ($(col 2 | range))" \
        "$(col 3 | mib | median) ($(col 3 | mib | range))" "$(col 4 | mib | median) ($(col 4 | mib | range))" \
        "$(col 5 | median)"
    index=$((index + 1))
done

#!/bin/bash
# Start-up benchmark of the real program: time from process start to the main
# window being shown, and the peak memory of the whole process tree (the
# program and every process below it: the web engine starts helpers) sampled
# for a while after the window shows. Runs under a private Xvfb with openbox;
# every run starts from a fresh HOME (a first start without the help window).
#
#   bench/startup.sh [-n RUNS] [-s SECONDS] BUILD [BUILD...]
#
# Give one build folder per variant, for instance the normal build (banner on)
# and one configured with -DWENDRAL_BANNER=OFF. Each variant gets one warm-up
# run that is not counted, then RUNS runs (default 7); the table gives the
# median and the range.
#
# Memory: "RSS" sums the resident set of every process in the tree (pages
# shared between them count once per process, as the brief for this number
# asks); "PSS" shares such pages out and is closer to what the tree costs.
#
# Where the machine allows, each run is in a PID namespace of its own so the
# program does not attach to browsers that other programs here started; the
# namespace adds a few milliseconds (WENDRAL_BENCH_NO_NAMESPACE=1 turns it off).
set -euo pipefail

runs=7
sample_seconds=5
while getopts "n:s:" opt; do
    case $opt in
    n) runs=$OPTARG ;;
    s) sample_seconds=$OPTARG ;;
    *) echo "usage: $0 [-n RUNS] [-s SECONDS] BUILD [BUILD...]" >&2; exit 2 ;;
    esac
done
shift $((OPTIND - 1))
[ $# -ge 1 ] || { echo "usage: $0 [-n RUNS] [-s SECONDS] BUILD [BUILD...]" >&2; exit 2; }
for b in "$@"; do
    [ -x "$b/wendral" ] || { echo "no program at $b/wendral" >&2; exit 1; }
done

title='Wendral by Brindlemark'
. "$(dirname "$0")/../scripts/xsession.sh"
start_xsession 1280x1024x24

ns=()
if [ -z "${WENDRAL_BENCH_NO_NAMESPACE:-}" ] && unshare --pid --fork --mount-proc true 2>/dev/null; then
    ns=(unshare --pid --fork --mount-proc --kill-child=SIGKILL)
fi

now_ms() { echo $((${EPOCHREALTIME/./} / 1000)); }

# "RSS-KiB PID PID ..." of the tree below (and including) $1.
tree_rss() {
    ps -e -o pid=,ppid=,rss= | awk -v root="$1" '
        { parent[$1] = $2; rss[$1] = $3 }
        END {
            for (p in parent) {
                q = p
                while (q != root && (q in parent) && q > 1) q = parent[q]
                if (q == root) { sum += rss[p]; pids = pids " " p }
            }
            print sum pids
        }'
}

# Sum of PSS (KiB) over the given processes.
tree_pss() {
    local total=0 p v
    for p in "$@"; do
        v=$(awk '/^Pss:/ {print $2; exit}' "/proc/$p/smaps_rollup" 2>/dev/null || true)
        total=$((total + ${v:-0}))
    done
    echo "$total"
}

# One run: prints "shown_ms peak_rss_kib peak_pss_kib exit_ms", or "fail".
one_run() {
    local program=$1 home=$2 outer pid t0 shown peak_rss=0 peak_pss=0 end rss pss line t1
    mkdir -p "$home/config/Wendral" "$home/data" "$home/cache" "$home/runtime"
    chmod 700 "$home/runtime"
    printf '[Settings]\nshowHelp=0\n' >"$home/config/Wendral/Wendral.conf"
    t0=$(now_ms)
    HOME=$home XDG_CONFIG_HOME=$home/config XDG_DATA_HOME=$home/data XDG_CACHE_HOME=$home/cache \
        XDG_RUNTIME_DIR=$home/runtime "${ns[@]}" "$program" >"$home/wendral.log" 2>&1 &
    outer=$!
    track_pid "$outer"
    shown=
    for _ in $(seq 6000); do
        if xdotool search --onlyvisible --name "^$title\$" >/dev/null 2>&1; then
            shown=$(($(now_ms) - t0))
            break
        fi
        kill -0 "$outer" 2>/dev/null || break
        sleep 0.005
    done
    pid=$outer
    if [ ${#ns[@]} -gt 0 ]; then pid=$(pgrep -P "$outer" || true); fi
    if [ -z "$shown" ] || [ -z "$pid" ]; then
        kill -9 "$outer" 2>/dev/null || true
        echo fail
        return
    fi
    end=$(($(now_ms) + sample_seconds * 1000))
    while [ "$(now_ms)" -lt "$end" ]; do
        read -r rss line < <(tree_rss "$pid")
        # shellcheck disable=SC2086
        pss=$(tree_pss $line)
        ((rss > peak_rss)) && peak_rss=$rss
        ((pss > peak_pss)) && peak_pss=$pss
        sleep 0.05
    done
    t1=$(now_ms)
    kill -TERM "$pid" 2>/dev/null || true
    for _ in $(seq 400); do kill -0 "$outer" 2>/dev/null || break; sleep 0.025; done
    if kill -0 "$outer" 2>/dev/null; then
        kill -9 "$outer" 2>/dev/null || true
        echo "$shown $peak_rss $peak_pss -"
    else
        echo "$shown $peak_rss $peak_pss $(($(now_ms) - t1))"
    fi
}

median() { sort -n | awk '{v[NR] = $1} END {if (NR % 2) print v[(NR + 1) / 2]; else print int((v[NR / 2] + v[NR / 2 + 1]) / 2)}'; }
range() { sort -n | awk 'NR == 1 {lo = $1} {hi = $1} END {print lo "-" hi}'; }

echo "start-up benchmark: $runs runs per build (+1 warm-up), memory sampled every ~50 ms for ${sample_seconds} s"
echo "display $DISPLAY with openbox; PID namespace: $([ ${#ns[@]} -gt 0 ] && echo yes || echo no); load: $(cut -d' ' -f1-3 /proc/loadavg)"
summary=()
for build in "$@"; do
    banner=$(sed -n 's/^WENDRAL_BANNER:BOOL=//p' "$build/CMakeCache.txt" 2>/dev/null || true)
    label="$(basename "$build") (banner ${banner:-ON})"
    : >"$tmp/results"
    for i in $(seq 0 "$runs"); do
        home=$tmp/home-$(basename "$build")-$i
        result=$(one_run "$build/wendral" "$home")
        rm -rf "$home"
        if [ "$result" = fail ]; then
            echo "  $label run $i: the main window did not show" >&2
            continue
        fi
        read -r shown rss pss exit_ms <<<"$result"
        if [ "$i" = 0 ]; then
            echo "  $label warm-up: shown after $shown ms, tree RSS $((rss / 1024)) MiB, PSS $((pss / 1024)) MiB"
        else
            echo "  $label run $i: shown after $shown ms, tree RSS $((rss / 1024)) MiB, PSS $((pss / 1024)) MiB, exit $exit_ms ms"
            echo "$shown $rss $pss $exit_ms" >>"$tmp/results"
        fi
    done
    n=$(wc -l <"$tmp/results")
    [ "$n" -gt 0 ] || { summary+=("$(printf '%-32s %4s  no successful run' "$label" 0)"); continue; }
    col() { awk -v c="$1" '$c != "-" {print $c}' "$tmp/results"; }
    summary+=("$(printf '%-32s %4d  %6s ms (%s)  %6s MiB (%s)  %6s MiB (%s)  %5s ms' "$label" "$n" \
        "$(col 1 | median)" "$(col 1 | range)" \
        "$(($(col 2 | median) / 1024))" "$(col 2 | awk '{print int($1 / 1024)}' | range)" \
        "$(($(col 3 | median) / 1024))" "$(col 3 | awk '{print int($1 / 1024)}' | range)" \
        "$(col 4 | median)")")
done

echo
printf '%-32s %4s  %-22s  %-22s  %-22s  %s\n' build runs "shown (median, range)" "tree RSS peak (median)" \
    "tree PSS peak (median)" "exit after SIGTERM"
printf '%s\n' "${summary[@]}"

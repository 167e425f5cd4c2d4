#!/bin/sh
# Checks that every layer includes only itself and the layers below it, and
# builds each layer's library target alone, lowest first (each layer's include
# root holds only the layers below it, so a wrong include stops the build).
#
#   scripts/check-layers.sh [build-folder]   (default: a new temporary folder)
set -eu
src=$(cd "$(dirname "$0")/.." && pwd)

allowed() {
    case $1 in
        core) echo "core" ;;
        platform) echo "core platform" ;;
        blocking) echo "core blocking" ;;
        forms) echo "core forms" ;;
        # The windows of the program; web content is the helper's (web/), so
        # nothing the program is made of may reach the web engine.
        ui) echo "core platform blocking forms ui" ;;
        web) echo "core platform forms web" ;;
        app) echo "core platform blocking forms ui app" ;;
    esac
}

status=0
for layer in core platform blocking forms ui web app; do
    ok=$(allowed "$layer")
    for inc in $(grep -rhoE '#include "[a-z]+/' "$src/$layer" | sed 's/#include "//; s#/##' | sort -u); do
        case " $ok " in
            *" $inc "*) ;;
            *)
                echo "check-layers: $layer/ includes $inc/:" >&2
                grep -rn "#include \"$inc/" "$src/$layer" >&2
                status=1
                ;;
        esac
    done
done
[ $status -eq 0 ] || exit $status

build=${1:-}
cleanup=
if [ -z "$build" ]; then
    build=$(mktemp -d)
    cleanup=$build
fi
trap '[ -n "$cleanup" ] && rm -rf "$cleanup"' EXIT
if [ ! -f "$build/CMakeCache.txt" ]; then
    cmake -S "$src" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Debug >/dev/null
fi
for layer in core platform blocking forms ui web app; do
    # Each layer's own objects only; the layers below it come first.
    cmake --build "$build" --target "wendral_$layer" -j "$(nproc)" >/dev/null
    echo "check-layers: wendral_$layer builds on the layers below it"
done

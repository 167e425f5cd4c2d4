#!/usr/bin/env bash
# Installs a built Wendral into a temporary prefix (and once more below a
# DESTDIR, as packaging does) and checks the tree a desktop relies on: the
# program with its files, the commands on PATH, the menu entry, the AppStream
# data, the icons, the manual page and the licence.
#
#   tests/packaging/check-install.sh BUILD-FOLDER
#
# Needs desktop-file-validate (desktop-file-utils), appstreamcli (appstream),
# man (man-db) and readelf (binutils). Prints one line per check; exits 1 when
# any failed.
set -uo pipefail

build=${1:?usage: check-install.sh BUILD-FOLDER}
id=example.brindlemark.Wendral
version=1.0.0
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

passed=0
failed=0
pass() { passed=$((passed + 1)); echo "ok   $*"; }
fail() { failed=$((failed + 1)); echo "FAIL $*"; }
check() { # check DESCRIPTION COMMAND...
    local what=$1
    shift
    if "$@" >"$tmp/out" 2>&1; then pass "$what"; else fail "$what"; sed 's/^/     /' "$tmp/out" | head -20; fi
}

prefix=$tmp/prefix
if ! cmake --install "$build" --prefix "$prefix" --strip >"$tmp/install.log" 2>&1; then
    cat "$tmp/install.log"
    echo "FAIL cmake --install"
    exit 1
fi

# ---- the program folder, wherever the library folder is (lib, lib64, lib/<triplet>)
program=$(find "$prefix" -path '*/wendral/wendral' -type f | head -n 1)
if [ -z "$program" ]; then
    fail "no program at <libdir>/wendral/wendral"
    echo "$passed passed, $failed failed"
    exit 1
fi
programdir=$(dirname "$program")
pass "program at ${programdir#"$prefix"/}/wendral"
check "program is executable" test -x "$program"
for f in Help.rtf sounds/pop.wav icon.ico hoticon.ico wendral-browser wendral-web; do
    check "program file $f beside the program" test -s "$programdir/$f"
done
check "wendral-browser is executable" test -x "$programdir/wendral-browser"
check "wendral-web (the web helper) is executable" test -x "$programdir/wendral-web"
needed() { readelf -d --wide "$1" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p'; }
check "installed program needs no web engine library" \
    eval 'needed "$program" | grep -q "^libQt6Widgets" && ! needed "$program" | grep -q "^libQt6WebEngine"'
check "installed web helper needs the web engine" \
    eval 'needed "$programdir/wendral-web" | grep -q "^libQt6WebEngineWidgets"'
check "no placeholder files installed" test ! -e "$programdir/.keep"
symbols() { readelf -S --wide "$1" | grep -q '\.symtab'; }
check "installed program is stripped" eval '! symbols "$program"'
check "installed web helper is stripped" eval '! symbols "$programdir/wendral-web"'
check "installed program prints its version" eval '[ "$("$prefix/bin/wendral" --version)" = "Wendral $version" ]'

# ---- commands on PATH: relative links that resolve into the program folder
for command in wendral wendral-browser; do
    link=$prefix/bin/$command
    check "bin/$command is a symbolic link" test -L "$link"
    target=$(readlink "$link")
    check "bin/$command is relative ($target)" eval '[ "${target#/}" = "$target" ]'
    check "bin/$command resolves to the program folder" \
        eval '[ "$(readlink -f "$link")" = "$(readlink -f "$programdir/$command")" ]'
done

# ---- menu entry
desktop=$prefix/share/applications/$id.desktop
check "menu entry $id.desktop" test -f "$desktop"
check "desktop-file-validate is clean" eval '[ -z "$(desktop-file-validate "$desktop" 2>&1)" ]'
for line in "Name=Wendral" "GenericName=Popup Blocker" "Exec=wendral" "Icon=$id" "Type=Application" \
    "StartupNotify=true"; do
    check "menu entry has $line" grep -qx "$line" "$desktop"
done
check "menu entry has categories and keywords" eval 'grep -q "^Categories=." "$desktop" && grep -q "^Keywords=." "$desktop"'

# ---- AppStream data: valid (infos allowed, no warnings or errors)
metainfo=$prefix/share/metainfo/$id.metainfo.xml
check "AppStream data $id.metainfo.xml" test -f "$metainfo"
check "appstreamcli validate --no-net passes" appstreamcli validate --no-net "$metainfo"
check "appstreamcli reports no warnings or errors" \
    eval '! appstreamcli validate --no-net "$metainfo" 2>&1 | grep -E "^(W|E):"'
check "AppStream data names the menu entry" grep -q "<launchable type=\"desktop-id\">$id.desktop</launchable>" "$metainfo"
check "AppStream data has release $version" grep -q "<release version=\"$version\"" "$metainfo"
check "AppStream data provides the command" grep -q "<binary>wendral</binary>" "$metainfo"
check "AppStream data has a content rating" grep -q "<content_rating" "$metainfo"

# ---- icons: the scalable one and each size, PNGs of exactly that size
icons=$prefix/share/icons/hicolor
check "scalable icon" eval 'grep -q "<svg" "$icons/scalable/apps/$id.svg"'
png_size() { # width x height from the PNG header
    od -An -tu1 -j16 -N8 "$1" | awk '{printf "%dx%d", $1*16777216+$2*65536+$3*256+$4, $5*16777216+$6*65536+$7*256+$8}'
}
for size in 16 22 24 32 48 64 128 256; do
    png=$icons/${size}x${size}/apps/$id.png
    check "icon ${size}x${size} is a ${size}x${size} PNG" eval '[ "$(png_size "$png" 2>/dev/null)" = "${size}x${size}" ]'
done

# ---- manual page: renders, and groff finds nothing to warn about
man1=$prefix/share/man/man1/wendral.1.gz
check "manual page wendral.1.gz" test -s "$man1"
check "manual page renders with man -l" \
    eval 'MANWIDTH=80 man -l "$man1" 2>"$tmp/man.err" | grep -q -- "--minimized" && [ ! -s "$tmp/man.err" ]'
check "manual page parses without groff warnings" \
    eval '[ -z "$(zcat "$man1" | groff -man -ww -z 2>&1)" ]'
check "manual page names version $version" eval 'zcat "$man1" | head -n 1 | grep -q "Wendral $version"'

# ---- licence
check "licence in share/doc/wendral/copyright" \
    eval 'grep -q "MIT License" "$prefix/share/doc/wendral/copyright" && grep -q Brindlemark "$prefix/share/doc/wendral/copyright"'

# ---- nothing else: no tests, benchmarks or build leftovers
(cd "$prefix" && find . \( -type f -o -type l \) | sed 's|^\./||' | sort) >"$tmp/files"
unexpected=$(grep -v -E "^(bin/wendral|bin/wendral-browser|${programdir#"$prefix"/}/(wendral|wendral-web|wendral-browser|Help\.rtf|icon\.ico|hoticon\.ico|sounds/pop\.wav)|share/applications/$id\.desktop|share/metainfo/$id\.metainfo\.xml|share/icons/hicolor/(scalable/apps/$id\.svg|[0-9]+x[0-9]+/apps/$id\.png)|share/man/man1/wendral\.1\.gz|share/doc/wendral/copyright)$" "$tmp/files")
check "no other files installed" eval '[ -z "$unexpected" ] || { echo "$unexpected"; false; }'

# ---- below a DESTDIR, as a package build installs: the links still resolve inside it
dest=$tmp/dest
if DESTDIR=$dest cmake --install "$build" --prefix /usr >"$tmp/install.log" 2>&1; then
    for command in wendral wendral-browser; do
        check "DESTDIR: bin/$command resolves inside the staging root" \
            eval 'case "$(readlink -f "$dest/usr/bin/$command")" in "$dest"/usr/*/wendral/$command) true ;; *) false ;; esac'
    done
else
    fail "DESTDIR install"
    sed 's/^/     /' "$tmp/install.log" | tail -20
fi

echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]

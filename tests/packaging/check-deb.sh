#!/usr/bin/env bash
# Builds the Debian package from a built Wendral with CPack and checks it: its
# control data (dependencies computed from the program, the browsers it
# recommends, the tray extension it suggests), its contents (the program and
# its desktop files, no test or benchmark programs), then installs it into a
# throw-away root with dpkg and removes it again, which must leave nothing but
# dpkg's own files.
#
#   tests/packaging/check-deb.sh BUILD-FOLDER
#
# Needs cpack, dpkg-dev (dpkg-shlibdeps) and file. Prints one line per check
# and the package's installed size; exits 1 when any check failed.
set -uo pipefail

build=$(cd "${1:?usage: check-deb.sh BUILD-FOLDER}" && pwd)
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
finish() {
    echo "$passed passed, $failed failed"
    [ "$failed" -eq 0 ]
    exit
}

# ---- build the package into a folder of our own
if ! (cd "$build" && cpack -G DEB -B "$tmp/package") >"$tmp/cpack.log" 2>&1; then
    sed 's/^/     /' "$tmp/cpack.log" | tail -30
    fail "cpack -G DEB"
    finish
fi
deb=$(find "$tmp/package" -maxdepth 1 -name "wendral_${version}_*.deb" | head -n 1)
if [ -z "$deb" ]; then
    fail "no wendral_${version}_<arch>.deb built"
    finish
fi
pass "built $(basename "$deb")"

# ---- control data
field() { dpkg-deb -f "$deb" "$1"; }
check "Package is wendral" eval '[ "$(field Package)" = wendral ]'
check "Version is $version" eval '[ "$(field Version)" = "$version" ]'
check "Architecture is the machine's" eval '[ "$(field Architecture)" = "$(dpkg --print-architecture)" ]'
depends=$(field Depends)
check "Depends computed and not empty" test -n "$depends"
for library in libc6 libqt6core6 libqt6widgets6 libqt6webenginewidgets6 libqt6websockets6 libqt6svg6 \
    libsndfile1 libasound2 libxcb-keysyms1; do
    check "Depends names $library" eval 'grep -Eq "(^|, )$library( |,|$)" <<<"$depends"'
done
check "Recommends a Chromium-family browser" eval '[ "$(field Recommends)" = \
    "chromium | google-chrome-stable | microsoft-edge-stable | brave-browser | vivaldi-stable" ]'
check "Suggests the GNOME tray extension" eval '[ "$(field Suggests)" = gnome-shell-extension-appindicator ]'
for name in Maintainer Section Priority Homepage Description Installed-Size; do
    check "$name present" eval '[ -n "$(field "$name")" ]'
done
check "no maintainer scripts (dpkg's triggers refresh the caches)" \
    eval '! dpkg-deb --ctrl-tarfile "$deb" | tar -t | grep -E "(pre|post)(inst|rm)$"'

# ---- contents
dpkg-deb --contents "$deb" >"$tmp/contents"
awk '{print $6}' "$tmp/contents" | sed 's|^\./|/|' >"$tmp/paths"
for path in /usr/lib/wendral/wendral /usr/lib/wendral/wendral-web /usr/lib/wendral/wendral-browser /usr/lib/wendral/Help.rtf \
    /usr/lib/wendral/sounds/pop.wav /usr/lib/wendral/icon.ico /usr/lib/wendral/hoticon.ico \
    "/usr/share/applications/$id.desktop" "/usr/share/metainfo/$id.metainfo.xml" \
    "/usr/share/icons/hicolor/scalable/apps/$id.svg" "/usr/share/icons/hicolor/48x48/apps/$id.png" \
    "/usr/share/icons/hicolor/256x256/apps/$id.png" /usr/share/man/man1/wendral.1.gz \
    /usr/share/doc/wendral/copyright /usr/bin/wendral /usr/bin/wendral-browser; do
    check "contains $path" grep -qx -- "$path" "$tmp/paths"
done
check "/usr/bin/wendral links to ../lib/wendral/wendral" grep -q ' ./usr/bin/wendral -> ../lib/wendral/wendral$' "$tmp/contents"
check "every file belongs to root" eval '! awk "\$2 != \"root/root\"" "$tmp/contents" | grep .'
check "no test, benchmark or fuzzing programs" eval '! grep -E "/(tst_|bench_|fuzz_)|/tests?/" "$tmp/paths"'
check "nothing outside /usr" eval '! grep -v "^/usr/" "$tmp/paths" | grep -v "^/$"'

# ---- the program in the package is stripped
dpkg-deb -x "$deb" "$tmp/unpacked"
check "packaged program is stripped" eval '! readelf -S --wide "$tmp/unpacked/usr/lib/wendral/wendral" | grep -q "\.symtab"'
check "packaged web helper is stripped" eval '! readelf -S --wide "$tmp/unpacked/usr/lib/wendral/wendral-web" | grep -q "\.symtab"'
check "packaged program needs no web engine library" \
    eval '! readelf -d --wide "$tmp/unpacked/usr/lib/wendral/wendral" | grep "(NEEDED)" | grep -q libQt6WebEngine'

# ---- install into a throw-away root, then remove
root=$tmp/root
mkdir -p "$root/var/lib/dpkg/info" "$root/var/lib/dpkg/updates" "$root/var/lib/dpkg/triggers"
touch "$root/var/lib/dpkg/status" "$root/var/lib/dpkg/available"
(cd "$root" && find . | sort) >"$tmp/before"
dpkg_root() { dpkg --root="$root" --log="$tmp/dpkg.log" --force-depends --force-not-root "$@"; }
check "dpkg -i into a throw-away root" dpkg_root -i "$deb"
check "dpkg reports it installed" eval 'dpkg --root="$root" -s wendral | grep -qx "Status: install ok installed"'
check "installed /usr/bin/wendral resolves to the program" \
    eval '[ "$(readlink -f "$root/usr/bin/wendral")" = "$root/usr/lib/wendral/wendral" ]'
check "installed menu entry is in place" test -f "$root/usr/share/applications/$id.desktop"
check "dpkg -r removes it" dpkg_root -r wendral
check "dpkg reports it gone" eval '! dpkg --root="$root" -s wendral 2>/dev/null | grep -q "^Status: install ok"'
(cd "$root" && find . | sort) >"$tmp/after"
# What stays is dpkg's own bookkeeping under var/lib/dpkg.
leftover=$(comm -13 "$tmp/before" "$tmp/after" | grep -v '^\./var/lib/dpkg/')
check "nothing left but dpkg's own files" eval '[ -z "$leftover" ] || { echo "$leftover"; false; }'

echo "Installed-Size: $(field Installed-Size) KiB ($(basename "$deb"), $(stat -c %s "$deb") bytes)"
finish

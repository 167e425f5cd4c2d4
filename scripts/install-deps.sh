#!/usr/bin/env bash
# Installs the Debian packages one of three sets needs, and only those missing:
#
#   install-deps.sh runtime   the shared libraries and fonts the program runs with
#   install-deps.sh build     runtime + compilers, CMake, Ninja and the -dev packages
#   install-deps.sh package   build + what turns the build into a Debian package
#   install-deps.sh test      package + what the tests, screenshots and fuzzing use
#   install-deps.sh --list SET   prints the set's packages, installs nothing
#
# Nothing comes from anywhere but Debian's package archive, recommended
# companions are left out (each set names what it needs), and apt is told to
# remove nothing: a set that would take a package off the machine stops instead.
set -euo pipefail

RUNTIME=(
  # Qt 6: the xcb platform plugin and the ico/jpeg image plugins are part of libqt6gui6
  libqt6core6 libqt6gui6 libqt6widgets6 libqt6network6 libqt6websockets6 libqt6svg6 libqt6dbus6
  libqt6webenginecore6 libqt6webenginecore6-bin libqt6webenginewidgets6
  # sound, Super+Z
  libsndfile1 libasound2 libxcb1 libxcb-keysyms1
  # the fonts the windows fall back to
  fonts-dejavu-core
)

BUILD=(
  build-essential cmake ninja-build pkg-config
  qt6-base-dev qt6-base-dev-tools qt6-webengine-dev qt6-websockets-dev qt6-svg-dev
  libsndfile1-dev libasound2-dev libxcb1-dev libxcb-keysyms1-dev
)

# CPack's DEB generator finds the program's libraries with dpkg-shlibdeps and
# its executables with file; it writes the archive itself (no fakeroot).
PACKAGE=(dpkg-dev file)

TEST=(
  # X server (xauth is only a recommendation of xvfb), window manager, tray host,
  # input and window-property tools, screenshots
  xvfb xauth openbox trayer xdotool x11-utils imagemagick
  # autostart entries, the menu entry, AppStream data, the man page
  desktop-file-utils appstream libglib2.0-bin man-db
  # sound files, the browser the engine watches, the screenshots' web server
  sox chromium python3
  # a private session bus, starting desktop entries by id
  dbus-daemon libgtk-3-bin
  # fuzzing and formatting
  clang libclang-rt-14-dev clang-format
)

# Sound servers a desktop may already run. pulseaudio conflicts with PipeWire's
# PulseAudio and ALSA replacements: installing it there would take the desktop's
# sound (and the desktop meta-packages) away.
OTHER_SOUND_SERVERS=(pipewire-audio pipewire-pulse pipewire-alsa)

installed() {
  dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q "install ok installed"
}

# A real-time null sink for the sound test: a private PulseAudio server, only
# where no other sound server is installed. Elsewhere the test skips the
# real-time part and says why.
sound_sink() {
  local p
  for p in "${OTHER_SOUND_SERVERS[@]}"; do
    if installed "$p"; then
      echo "install-deps: $p is installed; pulseaudio is left out (the real-time sound test will skip)" >&2
      return 0
    fi
  done
  echo pulseaudio libasound2-plugins
}

set_name=${1:-}
list_only=no
if [ "$set_name" = --list ]; then
  list_only=yes
  set_name=${2:-}
fi

packages=()
case $set_name in
  runtime) packages=("${RUNTIME[@]}") ;;
  build) packages=("${RUNTIME[@]}" "${BUILD[@]}") ;;
  package) packages=("${RUNTIME[@]}" "${BUILD[@]}" "${PACKAGE[@]}") ;;
  test)
    read -r -a sink <<<"$(sound_sink)"
    packages=("${RUNTIME[@]}" "${BUILD[@]}" "${PACKAGE[@]}" "${TEST[@]}" "${sink[@]}")
    ;;
  *)
    echo "usage: $0 [--list] runtime|build|package|test" >&2
    exit 2
    ;;
esac

if [ "$list_only" = yes ]; then
  printf '%s\n' "${packages[@]}"
  exit 0
fi

missing=()
for p in "${packages[@]}"; do
  installed "$p" || missing+=("$p")
done

if [ ${#missing[@]} -eq 0 ]; then
  echo "install-deps ($set_name): all packages present"
  exit 0
fi

SUDO=()
if [ "$(id -u)" -ne 0 ]; then SUDO=(sudo); fi
echo "install-deps ($set_name): installing ${missing[*]}"
before=$(dpkg-query -W -f='${db:Status-Abbrev} ${Package}\n' | awk '$1 == "ii" {print $2}' | sort)
"${SUDO[@]}" apt-get update -qq
"${SUDO[@]}" env DEBIAN_FRONTEND=noninteractive \
  apt-get install -y -qq --no-install-recommends --no-remove "${missing[@]}"
after=$(dpkg-query -W -f='${db:Status-Abbrev} ${Package}\n' | awk '$1 == "ii" {print $2}' | sort)
# The closing note: every package this run put on the machine, dependencies included.
new=$(comm -13 <(echo "$before") <(echo "$after") | tr '\n' ' ')
echo "install-deps ($set_name): installed ${new:-nothing new}"

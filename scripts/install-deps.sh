#!/usr/bin/env bash
# Installs every Debian package Wendral needs to build, run and test.
# Idempotent: installs only what is missing. Nothing is downloaded from
# anywhere but Debian's package archive.
set -euo pipefail

PACKAGES=(
  # build
  build-essential cmake ninja-build pkg-config clang-format
  qt6-base-dev qt6-base-dev-tools qt6-webengine-dev qt6-websockets-dev qt6-svg-dev libqt6svg6
  libsndfile1-dev libasound2-dev libxcb1-dev libxcb-keysyms1-dev
  # fonts the windows fall back to
  fonts-dejavu-core
  # tests: X server, window manager, tray host, input and property tools
  xvfb xauth openbox trayer xdotool x11-utils imagemagick
  # tests: autostart entries, sound sink, browser
  desktop-file-utils pulseaudio libasound2-plugins sox chromium
  # tests: a private session bus, starting desktop entries by id
  dbus-daemon libgtk-3-bin libglib2.0-bin
  # fuzzing
  clang libclang-rt-14-dev
)

missing=()
for p in "${PACKAGES[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  echo "install-deps: all packages present"
  exit 0
fi

SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
echo "install-deps: installing ${missing[*]}"
$SUDO apt-get update -qq
DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq "${missing[@]}"

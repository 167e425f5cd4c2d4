# The Debian package, built by CPack from what Install.cmake installs:
#
#   cmake -S . -B build-release -G Ninja -DCMAKE_BUILD_TYPE=Release -DWENDRAL_BUILD_TESTS=OFF
#   cmake --build build-release
#   cd build-release && cpack -G DEB           (scripts/package.sh does all of it)
#
# Only install() rules go into the package, so no test or benchmark program can
# end up inside, whatever WENDRAL_BUILD_TESTS says. Dependencies are computed
# from the executables by dpkg-shlibdeps (package dpkg-dev). The menu entry,
# icon and manual page caches are refreshed by dpkg's triggers of the packages
# owning them, so the package needs no maintainer scripts.
#
# Debug symbols: the executables in the package are stripped. A build with
# debug information (RelWithDebInfo, Debug) also gives a separate
# wendral-dbgsym_<version>_<arch>.ddeb holding them, found by build id; a
# Release build carries none to begin with.
#
# Included from the top CMakeLists.txt after Install.cmake.

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME wendral)
set(CPACK_PACKAGE_VENDOR "${WENDRAL_COMPANY_NAME}")
set(CPACK_PACKAGE_VERSION "${WENDRAL_RELEASE_VERSION}")
set(CPACK_PACKAGE_CONTACT "${WENDRAL_COMPANY_NAME} <packages@${WENDRAL_COMMENTS}>")
set(CPACK_PACKAGE_HOMEPAGE_URL "https://${WENDRAL_COMMENTS}/")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "popup blocker for Chromium-family browsers")
set(CPACK_RESOURCE_FILE_LICENSE "${CMAKE_CURRENT_SOURCE_DIR}/LICENSE")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_PACKAGE_CHECKSUM SHA256)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT) # wendral_<version>_<arch>.deb
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${CPACK_PACKAGE_CONTACT}")
set(CPACK_DEBIAN_PACKAGE_SECTION web)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "${CPACK_PACKAGE_HOMEPAGE_URL}")
# The extended description; CPack puts the summary above it.
set(CPACK_PACKAGE_DESCRIPTION "Wendral sits in the tray beside the Chromium-family browsers on the desktop
(Chromium, Google Chrome, Microsoft Edge, Brave, Vivaldi), watched through the
DevTools protocol, and decides every new-window request before the window
opens. It lets through sites on the allowed list, the next popup after Super+Z,
popups opened from a link under the mouse (an option) and, in setup mode, what
the user answers when it asks about a new site. It counts what it blocks and
can play a short sound.")
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Added to what dpkg-shlibdeps finds: Qt loads the SVG image and icon plugins
# (the program's pictures) at run time, so no executable links them.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "libqt6svg6")
# The browsers it watches; any one of them will do.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS
    "chromium | google-chrome-stable | microsoft-edge-stable | brave-browser | vivaldi-stable")
# GNOME shows tray icons only with this extension.
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "gnome-shell-extension-appindicator")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
# With debug information the symbols move to the dbgsym package, which strips
# the executables of the main one; without, they are stripped as they go in.
if(CMAKE_BUILD_TYPE MATCHES "^(RelWithDebInfo|Debug)$")
  set(CPACK_DEBIAN_DEBUGINFO_PACKAGE ON)
else()
  set(CPACK_STRIP_FILES ON)
endif()

include(CPack)

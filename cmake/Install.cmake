# Installation in the Filesystem Hierarchy Standard layout:
#
#   <libdir>/wendral/                 the program with its read-only files beside
#                                     it (Help.rtf, sounds/pop.wav, icon.ico,
#                                     hoticon.ico), where it looks for them, and
#                                     the wendral-browser launcher and the
#                                     wendral-web helper (the web engine)
#   bin/wendral, bin/wendral-browser  relative symbolic links into <libdir>/wendral/
#   share/applications/<id>.desktop   the menu entry
#   share/icons/hicolor/*/apps/<id>.* the icon, scalable and 16-256 pixels
#   share/metainfo/<id>.metainfo.xml  AppStream data for software centres
#   share/man/man1/wendral.1.gz       the manual page
#   share/doc/wendral/copyright       the licence
#
# `cmake --install BUILD --strip` leaves the executables without symbols; the
# Debian package strips them too (see Packaging.cmake for debug symbols).
#
# Included from the top CMakeLists.txt after the `wendral` target exists.

include(GNUInstallDirs)

if(NOT DEFINED WENDRAL_DESKTOP_ID)
  set(WENDRAL_DESKTOP_ID "example.brindlemark.Wendral")
endif()
set(WENDRAL_INSTALL_DIR ${CMAKE_INSTALL_LIBDIR}/wendral)
set(WENDRAL_PACKAGING_DIR ${CMAKE_CURRENT_SOURCE_DIR}/packaging)
set(WENDRAL_PACKAGING_OUT ${CMAKE_CURRENT_BINARY_DIR}/packaging)
# The release as users see it: three parts, as in the AppStream data and the package.
set(WENDRAL_RELEASE_VERSION "${PROJECT_VERSION_MAJOR}.${PROJECT_VERSION_MINOR}.${PROJECT_VERSION_PATCH}")
set(WENDRAL_RELEASE_DATE "2026-12-08")

# ---- the program folder
install(TARGETS wendral RUNTIME DESTINATION ${WENDRAL_INSTALL_DIR})
if(TARGET wendral-web)
  install(TARGETS wendral-web RUNTIME DESTINATION ${WENDRAL_INSTALL_DIR})
endif()
install(DIRECTORY ${CMAKE_CURRENT_SOURCE_DIR}/assets/programfiles/ DESTINATION ${WENDRAL_INSTALL_DIR}
        PATTERN ".keep" EXCLUDE)
set(_wendral_commands wendral)
if(EXISTS ${CMAKE_CURRENT_SOURCE_DIR}/scripts/wendral-browser)
  install(PROGRAMS ${CMAKE_CURRENT_SOURCE_DIR}/scripts/wendral-browser DESTINATION ${WENDRAL_INSTALL_DIR})
  list(APPEND _wendral_commands wendral-browser)
endif()

# ---- commands on PATH: links made once in the build folder and installed as
# links. Relative, so that they hold under any prefix, DESTDIR or package root.
if(IS_ABSOLUTE "${CMAKE_INSTALL_BINDIR}" OR IS_ABSOLUTE "${CMAKE_INSTALL_LIBDIR}")
  message(FATAL_ERROR "Install.cmake needs CMAKE_INSTALL_BINDIR and CMAKE_INSTALL_LIBDIR relative to the prefix")
endif()
file(RELATIVE_PATH _wendral_bin_to_program "/prefix/${CMAKE_INSTALL_BINDIR}" "/prefix/${WENDRAL_INSTALL_DIR}")
file(MAKE_DIRECTORY ${WENDRAL_PACKAGING_OUT}/bin)
foreach(command IN LISTS _wendral_commands)
  file(CREATE_LINK ${_wendral_bin_to_program}/${command} ${WENDRAL_PACKAGING_OUT}/bin/${command} SYMBOLIC)
  install(FILES ${WENDRAL_PACKAGING_OUT}/bin/${command} DESTINATION ${CMAKE_INSTALL_BINDIR})
endforeach()

# ---- desktop integration
configure_file(${WENDRAL_PACKAGING_DIR}/wendral.desktop.in
               ${WENDRAL_PACKAGING_OUT}/${WENDRAL_DESKTOP_ID}.desktop @ONLY)
configure_file(${WENDRAL_PACKAGING_DIR}/wendral.metainfo.xml.in
               ${WENDRAL_PACKAGING_OUT}/${WENDRAL_DESKTOP_ID}.metainfo.xml @ONLY)
install(FILES ${WENDRAL_PACKAGING_OUT}/${WENDRAL_DESKTOP_ID}.desktop
        DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${WENDRAL_PACKAGING_OUT}/${WENDRAL_DESKTOP_ID}.metainfo.xml
        DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)

install(FILES ${CMAKE_CURRENT_SOURCE_DIR}/assets/icons/wendral.svg
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps
        RENAME ${WENDRAL_DESKTOP_ID}.svg)
# Rendered once from assets/icons/wendral.svg and kept in packaging/icons/.
foreach(size 16 22 24 32 48 64 128 256)
  install(FILES ${WENDRAL_PACKAGING_DIR}/icons/wendral-${size}.png
          DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps
          RENAME ${WENDRAL_DESKTOP_ID}.png)
endforeach()

# ---- manual page, compressed as Debian expects (gzip is part of every Debian
# system). Made while configuring: the page changes only with its template,
# which makes CMake configure again.
configure_file(${WENDRAL_PACKAGING_DIR}/wendral.1.in ${WENDRAL_PACKAGING_OUT}/wendral.1 @ONLY)
find_program(WENDRAL_GZIP gzip REQUIRED)
execute_process(COMMAND ${WENDRAL_GZIP} -9 -n -c ${WENDRAL_PACKAGING_OUT}/wendral.1
                OUTPUT_FILE ${WENDRAL_PACKAGING_OUT}/wendral.1.gz
                RESULT_VARIABLE _wendral_gzip_result)
if(NOT _wendral_gzip_result EQUAL 0)
  message(FATAL_ERROR "gzip could not compress the manual page: ${_wendral_gzip_result}")
endif()
install(FILES ${WENDRAL_PACKAGING_OUT}/wendral.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

# ---- licence, where Debian keeps it (share/doc/<package>/copyright)
install(FILES ${CMAKE_CURRENT_SOURCE_DIR}/LICENSE DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/wendral
        RENAME copyright)

# Installing the keyer like a Linux desktop program, and its Debian package.
#
#   cmake --install <build> --prefix /usr/local    the program, menu entry, icons, metainfo
#   (cd <build> && cpack -G DEB)                    marlivox_<version>_<arch>.deb
#
# The menu entry starts the keyer in the directory the desktop starts programs
# in (the home folder on the usual desktops), so that is where "marlivox.cnf"
# is created and read.
#
# The AppStream id org.marlivox.Marlivox follows the reverse-DNS rule without a
# domain of our own behind it; the desktop entry keeps the plain name
# marlivox.desktop, tied to the id by the <launchable> element.

include(GNUInstallDirs)

set(MARLIVOX_APPSTREAM_ID org.marlivox.Marlivox)

install(TARGETS marlivox RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

install(FILES ${CMAKE_SOURCE_DIR}/packaging/marlivox.desktop
        DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${CMAKE_SOURCE_DIR}/packaging/${MARLIVOX_APPSTREAM_ID}.metainfo.xml
        DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)

# The icon in the hicolor theme: the four drawn sizes, and the drawing itself
# as the scalable one when it is there.
set(MARLIVOX_ICON_DIR ${CMAKE_SOURCE_DIR}/resources)
foreach(size 16 24 32 64)
  set(icon ${MARLIVOX_ICON_DIR}/icon_${size}.png)
  if(EXISTS ${icon})
    install(FILES ${icon}
            DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps
            RENAME marlivox.png)
  else()
    message(WARNING "The ${size} px application icon ${icon} is missing: it will not be installed")
  endif()
endforeach()
if(EXISTS ${MARLIVOX_ICON_DIR}/icon.svg)
  install(FILES ${MARLIVOX_ICON_DIR}/icon.svg
          DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps
          RENAME marlivox.svg)
endif()

# ---- The Debian package ------------------------------------------------------------
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME marlivox)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "The MARLIVOX developers")
set(CPACK_PACKAGE_CONTACT "MARLIVOX developers <marlivox@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Morse-code keyer for the desktop, Swedish user interface")
set(CPACK_PACKAGE_DESCRIPTION
"MARLIVOX keys a text message as audible Morse code on the default sound
output (PipeWire, PulseAudio or ALSA, through SDL2), optionally after a
steady carrier tone, once or a chosen number of times with a pause after each
transmission. The window is in Swedish; the settings live in the file
marlivox.cnf in the directory the keyer is started from.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION hamradio)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${CPACK_PACKAGE_CONTACT}")
# The shared libraries the program links (Qt 6, SDL2, X11, the C++ runtime)
# give the Debian package names through dpkg-shlibdeps where it is installed
# (package dpkg-dev); otherwise the same packages are named by hand. Qt loads
# its X11 platform plugin at run time, so that package is named either way.
find_program(MARLIVOX_DPKG_SHLIBDEPS dpkg-shlibdeps)
set(MARLIVOX_RUNTIME_PLUGINS "qt6-qpa-plugins")
if(MARLIVOX_DPKG_SHLIBDEPS)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  set(CPACK_DEBIAN_PACKAGE_DEPENDS "${MARLIVOX_RUNTIME_PLUGINS}")
else()
  set(CPACK_DEBIAN_PACKAGE_DEPENDS
      "libc6, libstdc++6, libgcc-s1, libqt6core6, libqt6gui6, libqt6widgets6, libsdl2-2.0-0, libx11-6, ${MARLIVOX_RUNTIME_PLUGINS}")
endif()
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "fonts-dejavu-core")

include(CPack)

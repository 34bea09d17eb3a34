# Packages built with CPack from the installation rules of cmake/Install.cmake:
#   Linux:   a Debian package (cpack -G DEB; scripts/package.sh), prefix /usr
#   Windows: an NSIS installer (cpack -G NSIS; docs/building-windows.md)

set(CPACK_PACKAGE_NAME "vornal")
set(CPACK_PACKAGE_VENDOR "Halvorn")
set(CPACK_PACKAGE_VERSION "${PROJECT_VERSION}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Keyboard wedge for serial instruments")
# Debian shows the lines as they are: keep them under 80 characters.
string(CONCAT CPACK_PACKAGE_DESCRIPTION
       "Vornal reads the data lines that a scale, balance, barcode reader, gauge or\n"
       "time clock sends on an RS-232 or USB-serial port, extracts the value with a\n"
       "regular expression, processes it with exact decimal arithmetic and types it\n"
       "as key presses into the application that has the keyboard focus.\n"
       "\n"
       "It offers presets for more than fifty instrument models, editing and\n"
       "rounding of values, start and terminator keys, keyboard layouts and a sound\n"
       "per reading. The package also contains vornal-cli, a headless companion for\n"
       "scripts and kiosk stations, with a systemd user unit that runs it at login.")
set(CPACK_PACKAGE_HOMEPAGE_URL "https://www.halvorn.example/vornal")
set(CPACK_PACKAGE_CONTACT "${VORNAL_MAINTAINER}")
set(CPACK_PACKAGE_INSTALL_DIRECTORY "Vornal")
set(CPACK_PACKAGE_EXECUTABLES "vornal;Vornal")
set(CPACK_STRIP_FILES ON)
set(CPACK_SOURCE_IGNORE_FILES "/\\\\.git/;/build[^/]*/")

if(UNIX AND NOT APPLE)
  set(CPACK_GENERATOR "DEB")
  # CMAKE_INSTALL_PREFIX is /usr and the files go to a staging folder through DESTDIR, so that what
  # the install scripts write into the man pages and the unit is /usr, not the staging folder.
  set(CPACK_SET_DESTDIR ON)
  set(CPACK_INSTALL_PREFIX "/usr")
  set(CPACK_PACKAGING_INSTALL_PREFIX "/usr")

  set(CPACK_DEBIAN_PACKAGE_NAME "vornal")
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT) # vornal_<version>-<release>_<arch>.deb
  set(CPACK_DEBIAN_PACKAGE_RELEASE "${VORNAL_DEB_RELEASE}")
  set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${VORNAL_MAINTAINER}")
  set(CPACK_DEBIAN_PACKAGE_SECTION "utils")
  set(CPACK_DEBIAN_PACKAGE_PRIORITY "optional")
  set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "${CPACK_PACKAGE_HOMEPAGE_URL}")
  # What the programs load: Qt 6 (the xcb and offscreen platform plugins come with libqt6gui6),
  # GMP, X11 with XTest, the Wayland client library, libxkbcommon and QtDBus (desktop portal) for typing,
  # FluidSynth and a General-MIDI sound font for the sounds, libmosquitto for publishing to a broker.
  # dpkg-shlibdeps adds the exact library versions of this build to these.
  set(CPACK_DEBIAN_PACKAGE_DEPENDS
      "libqt6core6 (>= 6.4), libqt6gui6 (>= 6.4), libqt6widgets6 (>= 6.4), libqt6network6 (>= 6.4), \
libqt6dbus6 (>= 6.4), libgmp10, libx11-6, libxtst6, libwayland-client0, libxkbcommon0, libfluidsynth3, libmosquitto1, timgm6mb-soundfont | fluid-soundfont-gm")
  # The toolkit's own texts (Yes/No, file dialogs) in the user's language.
  set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "qt6-translations-l10n")
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
endif()

if(WIN32)
  # NSIS installer: Start-menu and desktop shortcuts of the window program, the uninstaller in
  # "Apps & features". The Qt runtime and the other DLLs are copied in by the install step
  # (packaging/windows/Deploy.cmake, included by cmake/Install.cmake).
  set(CPACK_GENERATOR "NSIS")
  set(CPACK_PACKAGE_FILE_NAME "vornal-setup-${PROJECT_VERSION}-win64") # the installer's file name
  # A 64-bit installer for the 64-bit programs: it installs into the 64-bit "Program Files" and
  # writes the 64-bit registry view; it also runs under a 64-bit-only wine (the tests).
  set(CPACK_NSIS_DEFINES "  Target amd64-unicode")
  set(CPACK_NSIS_INSTALL_ROOT "$PROGRAMFILES64")
  set(CPACK_NSIS_PACKAGE_NAME "Vornal")
  set(CPACK_NSIS_DISPLAY_NAME "Vornal ${PROJECT_VERSION}")
  set(CPACK_NSIS_PUBLISHER "Halvorn")
  set(CPACK_NSIS_URL_INFO_ABOUT "${CPACK_PACKAGE_HOMEPAGE_URL}")
  set(CPACK_NSIS_HELP_LINK "${CPACK_PACKAGE_HOMEPAGE_URL}")
  set(CPACK_NSIS_CONTACT "${CPACK_PACKAGE_CONTACT}")
  set(CPACK_NSIS_INSTALLED_ICON_NAME "bin\\\\vornal.exe")
  set(CPACK_NSIS_ENABLE_UNINSTALL_BEFORE_INSTALL ON)
  set(CPACK_NSIS_MODIFY_PATH OFF)
  set(CPACK_NSIS_EXECUTABLES_DIRECTORY "bin")
  set(CPACK_NSIS_MUI_FINISHPAGE_RUN "vornal.exe")
  set(CPACK_NSIS_CREATE_ICONS_EXTRA
      "CreateShortCut '$DESKTOP\\\\Vornal.lnk' '$INSTDIR\\\\bin\\\\vornal.exe'")
  set(CPACK_NSIS_DELETE_ICONS_EXTRA "Delete '$DESKTOP\\\\Vornal.lnk'")
  set(CPACK_PACKAGE_INSTALL_REGISTRY_KEY "Halvorn Vornal")
  set(CPACK_NSIS_MUI_ICON "${PROJECT_SOURCE_DIR}/packaging/windows/vornal.ico")
  set(CPACK_NSIS_MUI_UNIICON "${PROJECT_SOURCE_DIR}/packaging/windows/vornal.ico")
endif()

include(CPack)

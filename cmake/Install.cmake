# Installation layout (cmake --install, and the packages CPack builds from it).
#
# Linux follows the FHS below the prefix (/usr for the package, /usr/local by default):
#   bin/vornal, bin/vornal-cli
#   lib/vornal/drivers/{posix,sim}/libvazEdo.so   found by the serial library as <exe>/../lib/vornal/...
#   lib/systemd/user/vornal-cli.service
#   share/applications, share/metainfo, share/icons/hicolor, share/man/man1
#   share/vornal/sim/*.vsim                       simulator scripts
#   share/doc/vornal/                             README, install and simulator guides, examples
# Windows (NSIS): the programs and vazEdo.dll side by side in bin/, where the library looks first;
# the simulator's DLL in lib/vornal/drivers/sim/ as on Linux, found through <exe>/../lib/vornal/....
#
# The driver folder is lib/vornal on purpose, not the multiarch CMAKE_INSTALL_LIBDIR
# (lib/x86_64-linux-gnu): the programs look for their drivers relative to themselves.

include(GNUInstallDirs)

set(VORNAL_INSTALL_DRIVERDIR "lib/vornal/drivers")
set(VORNAL_INSTALL_DATADIR "${CMAKE_INSTALL_DATADIR}/vornal")
set(VORNAL_INSTALL_DOCDIR "${CMAKE_INSTALL_DATADIR}/doc/vornal")
set(VORNAL_INSTALL_SYSTEMD_USER_DIR "lib/systemd/user")
set(VORNAL_APP_ID "com.halvorn.Vornal")

set(VORNAL_VERSION "${PROJECT_VERSION}")
# Named in the Debian package and its changelog (cmake/Packaging.cmake uses them too).
set(VORNAL_MAINTAINER "Halvorn <vornal@halvorn.example>")
set(VORNAL_DEB_RELEASE "1")

set(_vornal_pkg_linux "${PROJECT_SOURCE_DIR}/packaging/linux")
set(_vornal_gen "${CMAKE_BINARY_DIR}/packaging")

# ---- programs and drivers -------------------------------------------------------------------
set(_vornal_programs "")
foreach(_prog vornal vornal-cli)
  if(TARGET ${_prog})
    list(APPEND _vornal_programs ${_prog})
  endif()
endforeach()
if(_vornal_programs AND WIN32 AND NOT CMAKE_CROSSCOMPILING)
  # The DLLs they need besides Qt (GMP, compiler runtime) are collected into the set
  # vornal_runtime, installed by packaging/windows/Deploy.cmake.
  install(TARGETS ${_vornal_programs} RUNTIME_DEPENDENCY_SET vornal_runtime RUNTIME DESTINATION
          ${CMAKE_INSTALL_BINDIR})
elseif(_vornal_programs)
  install(TARGETS ${_vornal_programs} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
endif()

if(WIN32)
  # vazEdo.dll next to the programs: the first place the serial library looks on Windows.
  foreach(_drv vazedo_win32)
    if(TARGET ${_drv})
      install(TARGETS ${_drv} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} LIBRARY DESTINATION
              ${CMAKE_INSTALL_BINDIR})
    endif()
  endforeach()
else()
  if(TARGET vazedo_posix)
    install(TARGETS vazedo_posix LIBRARY DESTINATION ${VORNAL_INSTALL_DRIVERDIR}/posix)
  endif()
endif()
if(TARGET vazedo_sim)
  install(TARGETS vazedo_sim
          LIBRARY DESTINATION ${VORNAL_INSTALL_DRIVERDIR}/sim
          RUNTIME DESTINATION ${VORNAL_INSTALL_DRIVERDIR}/sim)
endif()

# ---- simulator scripts and documents --------------------------------------------------------
file(GLOB _vornal_sim_scripts CONFIGURE_DEPENDS "${PROJECT_SOURCE_DIR}/resources/sim/*.vsim")
if(_vornal_sim_scripts)
  install(FILES ${_vornal_sim_scripts} DESTINATION ${VORNAL_INSTALL_DATADIR}/sim)
endif()

set(_vornal_docs "${PROJECT_SOURCE_DIR}/packaging/linux/copyright")
foreach(_doc README.md docs/install.md docs/simulator.md docs/settings-export.md)
  list(APPEND _vornal_docs "${PROJECT_SOURCE_DIR}/${_doc}")
endforeach()
install(FILES ${_vornal_docs} DESTINATION ${VORNAL_INSTALL_DOCDIR})

if(WIN32)
  # The Qt libraries and plugins (windeployqt) and the other DLLs next to the programs.
  include("${PROJECT_SOURCE_DIR}/packaging/windows/Deploy.cmake")
endif()
if(WIN32 OR NOT UNIX)
  return()
endif()

# ---- desktop integration (freedesktop) ------------------------------------------------------
install(FILES "${_vornal_pkg_linux}/60-vornal-serial.rules.example" DESTINATION ${VORNAL_INSTALL_DOCDIR}/examples)
install(FILES "${_vornal_pkg_linux}/lintian-overrides" DESTINATION ${CMAKE_INSTALL_DATADIR}/lintian/overrides
        RENAME vornal)

# The man pages and the systemd user unit name installed paths, which are known only when
# installing (CPack installs with the prefix /usr, cmake --install with the one given there):
# they are written and installed by a script at install time.
find_program(VORNAL_GZIP gzip)
install(CODE "
  set(VORNAL_PKG_SRC \"${_vornal_pkg_linux}\")
  set(VORNAL_PKG_GEN \"${_vornal_gen}/install\")
  set(VORNAL_VERSION \"${VORNAL_VERSION}\")
  set(VORNAL_RELEASE_DATE \"${VORNAL_RELEASE_DATE}\")
  set(VORNAL_GZIP \"${VORNAL_GZIP}\")
  set(VORNAL_MAINTAINER \"${VORNAL_MAINTAINER}\")
  set(VORNAL_DEB_RELEASE \"${VORNAL_DEB_RELEASE}\")
  set(VORNAL_INSTALL_BINDIR \"${CMAKE_INSTALL_BINDIR}\")
  set(VORNAL_INSTALL_MANDIR \"${CMAKE_INSTALL_MANDIR}\")
  set(VORNAL_INSTALL_DRIVERDIR \"${VORNAL_INSTALL_DRIVERDIR}\")
  set(VORNAL_INSTALL_DATADIR \"${VORNAL_INSTALL_DATADIR}\")
  set(VORNAL_INSTALL_DOCDIR \"${VORNAL_INSTALL_DOCDIR}\")
  set(VORNAL_INSTALL_SYSTEMD_USER_DIR \"${VORNAL_INSTALL_SYSTEMD_USER_DIR}\")")
install(SCRIPT "${_vornal_pkg_linux}/install-generated.cmake")

if(NOT TARGET vornal)
  return() # the rest belongs to the window program
endif()

# Menu entry and software-centre entry of the window program.
configure_file("${_vornal_pkg_linux}/${VORNAL_APP_ID}.metainfo.xml" "${_vornal_gen}/${VORNAL_APP_ID}.metainfo.xml"
               @ONLY)
install(FILES "${_vornal_pkg_linux}/${VORNAL_APP_ID}.desktop" DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES "${_vornal_gen}/${VORNAL_APP_ID}.metainfo.xml" DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)

# Icons: the hand-drawn small sizes of the window, the larger sizes rendered from the same SVG
# (packaging/linux/icons/render.sh), and the SVG itself. 20 px is no hicolor size.
set(_vornal_icons "${PROJECT_SOURCE_DIR}/resources/icons")
foreach(_size 16 24 32)
  install(FILES "${_vornal_icons}/Vornal${_size}.png" DESTINATION
          ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${_size}x${_size}/apps RENAME vornal.png)
endforeach()
foreach(_size 48 64 128 256)
  install(FILES "${_vornal_pkg_linux}/icons/vornal-${_size}.png" DESTINATION
          ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${_size}x${_size}/apps RENAME vornal.png)
endforeach()
install(FILES "${_vornal_icons}/Vornal.svg" DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps
        RENAME vornal.svg)

# Runs at install time (cmake --install, CPack), once the final prefix is known: writes the man
# pages and the systemd user unit with the installed paths and installs them. The variables
# VORNAL_PKG_SRC, VORNAL_PKG_GEN, VORNAL_VERSION, VORNAL_RELEASE_DATE, VORNAL_GZIP and
# VORNAL_INSTALL_* come from cmake/Install.cmake; DESTDIR is honoured by file(INSTALL).

set(_prefix "${CMAKE_INSTALL_PREFIX}")
set(VORNAL_BINDIR "${_prefix}/${VORNAL_INSTALL_BINDIR}")
set(VORNAL_DRIVERDIR "${_prefix}/${VORNAL_INSTALL_DRIVERDIR}")
set(VORNAL_DATADIR "${_prefix}/${VORNAL_INSTALL_DATADIR}")
set(VORNAL_DOCDIR "${_prefix}/${VORNAL_INSTALL_DOCDIR}")
set(VORNAL_SYSTEMD_USER_DIR "${_prefix}/${VORNAL_INSTALL_SYSTEMD_USER_DIR}")

# A folder of its own for each run: installations may run side by side (tests, CPack).
string(RANDOM LENGTH 12 _run)
set(VORNAL_PKG_GEN "${VORNAL_PKG_GEN}/${_run}")
file(MAKE_DIRECTORY "${VORNAL_PKG_GEN}/man" "${VORNAL_PKG_GEN}/systemd")

# Man pages, compressed as Debian expects: gzip -9n stores no name and no time stamp, so the
# package is reproducible.
set(_pages "")
foreach(_page vornal vornal-cli)
  configure_file("${VORNAL_PKG_SRC}/${_page}.1" "${VORNAL_PKG_GEN}/man/${_page}.1" @ONLY)
  if(VORNAL_GZIP)
    execute_process(COMMAND "${VORNAL_GZIP}" -9nf "${VORNAL_PKG_GEN}/man/${_page}.1" RESULT_VARIABLE _rc)
    if(NOT _rc EQUAL 0)
      message(FATAL_ERROR "Compressing the man page ${_page}.1 with ${VORNAL_GZIP} failed: ${_rc}")
    endif()
    list(APPEND _pages "${VORNAL_PKG_GEN}/man/${_page}.1.gz")
  else()
    list(APPEND _pages "${VORNAL_PKG_GEN}/man/${_page}.1")
  endif()
endforeach()
file(INSTALL DESTINATION "${_prefix}/${VORNAL_INSTALL_MANDIR}/man1" TYPE FILE FILES ${_pages})

# The Debian changelog of this release (Debian policy wants one in every package), dated with the
# release date in RFC 2822 form; the weekday by Sakamoto's method.
string(REGEX MATCH "^([0-9]+)-([0-9]+)-([0-9]+)$" _date "${VORNAL_RELEASE_DATE}")
math(EXPR _y "${CMAKE_MATCH_1}")
math(EXPR _m "${CMAKE_MATCH_2}")
math(EXPR _d "${CMAKE_MATCH_3}")
set(_offsets 0 3 2 5 0 3 5 1 4 6 2 4)
math(EXPR _i "${_m} - 1")
list(GET _offsets ${_i} _offset)
set(_yy ${_y})
if(_m LESS 3)
  math(EXPR _yy "${_y} - 1")
endif()
math(EXPR _weekday "(${_yy} + ${_yy} / 4 - ${_yy} / 100 + ${_yy} / 400 + ${_offset} + ${_d}) % 7")
set(_days Sun Mon Tue Wed Thu Fri Sat)
set(_months Jan Feb Mar Apr May Jun Jul Aug Sep Oct Nov Dec)
list(GET _days ${_weekday} _dayname)
list(GET _months ${_i} _monthname)
if(_d LESS 10)
  set(_d "0${_d}")
endif()
file(WRITE "${VORNAL_PKG_GEN}/changelog.Debian"
     "vornal (${VORNAL_VERSION}-${VORNAL_DEB_RELEASE}) stable; urgency=medium\n\n"
     "  * Release ${VORNAL_VERSION}.\n\n"
     " -- ${VORNAL_MAINTAINER}  ${_dayname}, ${_d} ${_monthname} ${_y} 00:00:00 +0000\n")
set(_changelog "${VORNAL_PKG_GEN}/changelog.Debian")
if(VORNAL_GZIP)
  execute_process(COMMAND "${VORNAL_GZIP}" -9nf "${_changelog}" RESULT_VARIABLE _rc)
  if(NOT _rc EQUAL 0)
    message(FATAL_ERROR "Compressing the changelog with ${VORNAL_GZIP} failed: ${_rc}")
  endif()
  set(_changelog "${_changelog}.gz")
endif()
file(INSTALL DESTINATION "${_prefix}/${VORNAL_INSTALL_DOCDIR}" TYPE FILE FILES "${_changelog}")

# The systemd user unit starts the installed vornal-cli by its full path.
configure_file("${VORNAL_PKG_SRC}/vornal-cli.service" "${VORNAL_PKG_GEN}/systemd/vornal-cli.service" @ONLY)
file(INSTALL DESTINATION "${_prefix}/${VORNAL_INSTALL_SYSTEMD_USER_DIR}" TYPE FILE
     FILES "${VORNAL_PKG_GEN}/systemd/vornal-cli.service")
file(INSTALL DESTINATION "${_prefix}/${VORNAL_INSTALL_DOCDIR}/examples" TYPE FILE
     FILES "${VORNAL_PKG_GEN}/systemd/vornal-cli.service")
file(REMOVE_RECURSE "${VORNAL_PKG_GEN}")

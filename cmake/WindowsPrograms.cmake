# Windows programs: vornal.exe is a GUI program (WIN32 subsystem: no console window opens with it),
# vornal-cli.exe a console program. Both carry the icon (packaging/windows/vornal.ico) and a
# version resource (Explorer's "Details" tab, the installer's file versions).

set(_vornal_rc_in "${PROJECT_SOURCE_DIR}/packaging/windows/version.rc.in")
set(_vornal_icon "${PROJECT_SOURCE_DIR}/packaging/windows/vornal.ico")

foreach(_prog vornal vornal-cli)
  if(NOT TARGET ${_prog})
    continue()
  endif()
  if(_prog STREQUAL "vornal")
    set(VORNAL_RC_DESCRIPTION "Vornal keyboard wedge")
    set_target_properties(vornal PROPERTIES WIN32_EXECUTABLE ON)
  else()
    set(VORNAL_RC_DESCRIPTION "Vornal command line")
  endif()
  set(VORNAL_RC_NAME "${_prog}")
  set(VORNAL_RC_ICON "${_vornal_icon}")
  set(_rc "${CMAKE_BINARY_DIR}/packaging/windows/${_prog}.rc")
  configure_file("${_vornal_rc_in}" "${_rc}" @ONLY)
  target_sources(${_prog} PRIVATE "${_rc}")
endforeach()

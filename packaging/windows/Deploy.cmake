# Windows runtime of the installed programs, included by cmake/Install.cmake:
#   - the Qt libraries, the platform plugin qwindows.dll and the style plugin, copied by
#     windeployqt next to bin/vornal.exe at install time (also when CPack builds the installer);
#   - every other DLL the programs load (GMP; the MinGW runtime, or the MSVC runtime through
#     InstallRequiredSystemLibraries), from the runtime dependency set vornal_runtime.
# Folders where those DLLs are found can be added with -DVORNAL_RUNTIME_DIRS="dir;dir".
# The cross build with mingw-w64 on Linux has no Qt and no programs: nothing happens there.

if(NOT TARGET vornal AND NOT TARGET vornal-cli)
  return()
endif()

set(VORNAL_RUNTIME_DIRS "" CACHE STRING "Folders with DLLs the Windows programs need (GMP, ...)")

# windeployqt lives next to qmake in the Qt installation.
set(_vornal_qt_bin "")
if(TARGET Qt6::qmake)
  get_target_property(_vornal_qmake Qt6::qmake IMPORTED_LOCATION)
  get_filename_component(_vornal_qt_bin "${_vornal_qmake}" DIRECTORY)
endif()
if(TARGET Qt6::windeployqt AND NOT VORNAL_WINDEPLOYQT)
  get_target_property(_vornal_wdq Qt6::windeployqt IMPORTED_LOCATION)
  if(_vornal_wdq)
    set(VORNAL_WINDEPLOYQT "${_vornal_wdq}" CACHE FILEPATH "windeployqt of the Qt used for the build")
  endif()
endif()
# MSYS2 names it windeployqt-qt6.
find_program(VORNAL_WINDEPLOYQT NAMES windeployqt windeployqt-qt6 windeployqt6 HINTS "${_vornal_qt_bin}")
if(NOT VORNAL_WINDEPLOYQT)
  message(WARNING "windeployqt not found (it comes with Qt, in the bin folder next to qmake): the installed "
                  "programs and the installer will lack the Qt DLLs. Set VORNAL_WINDEPLOYQT to its path.")
endif()

set(_vornal_deploy_exe "vornal-cli.exe")
if(TARGET vornal)
  set(_vornal_deploy_exe "vornal.exe") # the window program needs every Qt module the CLI needs
endif()
if(VORNAL_WINDEPLOYQT)
  install(CODE "
    set(_exe \"\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}/${_vornal_deploy_exe}\")
    message(STATUS \"Deploying the Qt runtime next to \${_exe}\")
    execute_process(
      COMMAND \"${VORNAL_WINDEPLOYQT}\" $<IF:$<CONFIG:Debug>,--debug,--release> --no-translations
              --no-system-d3d-compiler --no-opengl-sw --verbose 0 \"\${_exe}\"
      RESULT_VARIABLE _rc)
    if(NOT _rc EQUAL 0)
      message(FATAL_ERROR \"windeployqt failed for \${_exe} (exit status \${_rc})\")
    endif()")
endif()

# GMP and the compiler runtime. Windows' own DLLs and Qt (deployed above) are left out.
get_filename_component(_vornal_compiler_bin "${CMAKE_CXX_COMPILER}" DIRECTORY)
set(_vornal_dll_dirs ${VORNAL_RUNTIME_DIRS} "${_vornal_qt_bin}" "${_vornal_compiler_bin}")
if(GMPXX_LIBRARY_DIRS)
  foreach(_d IN LISTS GMPXX_LIBRARY_DIRS)
    list(APPEND _vornal_dll_dirs "${_d}" "${_d}/../bin")
  endforeach()
endif()
install(RUNTIME_DEPENDENCY_SET vornal_runtime
        PRE_EXCLUDE_REGEXES "^api-ms-" "^ext-ms-" "^Qt6" "^vazEdo"
        POST_EXCLUDE_REGEXES "[/\\\\][Ss][Yy][Ss][Tt][Ee][Mm]32[/\\\\]" "[/\\\\][Ww][Ii][Nn][Dd][Oo][Ww][Ss][/\\\\]"
        DIRECTORIES ${_vornal_dll_dirs}
        RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

if(MSVC)
  set(CMAKE_INSTALL_SYSTEM_RUNTIME_DESTINATION ${CMAKE_INSTALL_BINDIR})
  include(InstallRequiredSystemLibraries)
endif()

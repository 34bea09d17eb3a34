# Windows runtime of the installed programs, included by cmake/Install.cmake:
#   - the Qt libraries, the platform plugin qwindows.dll and the style plugin, copied by
#     windeployqt next to bin/vornal.exe at install time (also when CPack builds the installer);
#   - every other DLL the programs load (GMP; the MinGW runtime, or the MSVC runtime through
#     InstallRequiredSystemLibraries), from the runtime dependency set vornal_runtime.
# Folders where those DLLs are found can be added with -DVORNAL_RUNTIME_DIRS="dir;dir".
# The cross build with mingw-w64 on Linux (scripts/cross-windows.sh) has no windeployqt: there the
# programs' imports are followed instead (below). Without Qt it has no programs: nothing happens.

if(NOT TARGET vornal AND NOT TARGET vornal-cli)
  return()
endif()

set(VORNAL_RUNTIME_DIRS "" CACHE STRING "Folders with DLLs the Windows programs need (GMP, ...)")

if(CMAKE_CROSSCOMPILING)
  # Exactly what the programs load: the DLLs they import and the DLLs those import, found in the Qt
  # prefix and the compiler's runtime folders (Qt DLLs, libstdc++, libgcc, winpthread); every other
  # import is a Windows DLL. Plus the plugins Qt loads at run time: the windows platform, the native
  # style, and the Schannel TLS backend (HTTPS of the update check). qt.conf is not needed: Qt looks
  # for plugins next to the program.
  foreach(_plugin QWindowsIntegrationPlugin QWindowsVistaStylePlugin QSchannelBackendPlugin)
    if(NOT TARGET Qt6::${_plugin})
      message(FATAL_ERROR "Qt for Windows lacks the plugin ${_plugin}: rebuild it with scripts/qt-windows.sh")
    endif()
    get_target_property(_loc Qt6::${_plugin} IMPORTED_LOCATION_RELEASE)
    if(NOT _loc)
      get_target_property(_loc Qt6::${_plugin} IMPORTED_LOCATION)
    endif()
    get_filename_component(_dir "${_loc}" DIRECTORY)
    get_filename_component(_type "${_dir}" NAME) # platforms, styles, tls
    install(FILES "${_loc}" DESTINATION ${CMAKE_INSTALL_BINDIR}/${_type})
  endforeach()
  get_filename_component(_vornal_qt_prefix "${Qt6_DIR}/../../.." ABSOLUTE)
  execute_process(COMMAND "${CMAKE_CXX_COMPILER}" -print-file-name=libstdc++-6.dll
                  OUTPUT_VARIABLE _vornal_stdcxx OUTPUT_STRIP_TRAILING_WHITESPACE)
  execute_process(COMMAND "${CMAKE_CXX_COMPILER}" -print-file-name=libwinpthread-1.dll
                  OUTPUT_VARIABLE _vornal_pthread OUTPUT_STRIP_TRAILING_WHITESPACE)
  set(_vornal_dll_dirs ${VORNAL_RUNTIME_DIRS} "${_vornal_qt_prefix}/bin")
  foreach(_f "${_vornal_stdcxx}" "${_vornal_pthread}")
    get_filename_component(_d "${_f}" REALPATH)
    get_filename_component(_d "${_d}" DIRECTORY)
    list(APPEND _vornal_dll_dirs "${_d}")
  endforeach()
  if(NOT CMAKE_OBJDUMP)
    message(FATAL_ERROR "No objdump for the Windows programs (x86_64-w64-mingw32-objdump, package binutils-mingw-w64)")
  endif()
  # Run at install time, after the programs and the plugins are in place. CMake compares DLL names
  # in lower case, as Windows does; the folders are searched through lower-case links to their DLLs.
  set(_vornal_dll_links "${CMAKE_BINARY_DIR}/packaging/windows/dll-links")
  install(CODE "
    file(REMOVE_RECURSE \"${_vornal_dll_links}\")
    file(MAKE_DIRECTORY \"${_vornal_dll_links}\")
    foreach(_dir ${_vornal_dll_dirs})
      file(GLOB _dlls \"\${_dir}/*.dll\")
      foreach(_dll IN LISTS _dlls)
        get_filename_component(_name \"\${_dll}\" NAME)
        string(TOLOWER \"\${_name}\" _name)
        if(NOT EXISTS \"${_vornal_dll_links}/\${_name}\")
          file(CREATE_LINK \"\${_dll}\" \"${_vornal_dll_links}/\${_name}\" SYMBOLIC)
        endif()
      endforeach()
    endforeach()
    set(CMAKE_GET_RUNTIME_DEPENDENCIES_PLATFORM windows+pe)
    set(CMAKE_GET_RUNTIME_DEPENDENCIES_TOOL objdump)
    set(CMAKE_GET_RUNTIME_DEPENDENCIES_COMMAND \"${CMAKE_OBJDUMP}\")
    set(_bin \"\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}\")
    set(_root \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}\")
    file(GLOB _exes \"\${_root}/${CMAKE_INSTALL_BINDIR}/*.exe\")
    file(GLOB _libs \"\${_root}/${CMAKE_INSTALL_BINDIR}/*/*.dll\" \"\${_root}/${CMAKE_INSTALL_BINDIR}/vazEdo.dll\"
                    \"\${_root}/${VORNAL_INSTALL_DRIVERDIR}/*/*.dll\")
    file(GET_RUNTIME_DEPENDENCIES EXECUTABLES \${_exes} LIBRARIES \${_libs}
         RESOLVED_DEPENDENCIES_VAR _found UNRESOLVED_DEPENDENCIES_VAR _missing
         DIRECTORIES \"${_vornal_dll_links}\"
         PRE_INCLUDE_REGEXES \"^[Qq][Tt]6\" \"^[Ll][Ii][Bb]\"
         PRE_EXCLUDE_REGEXES \".*\")
    if(_missing)
      message(FATAL_ERROR \"DLLs the programs need were not found: \${_missing}\")
    endif()
    foreach(_dll IN LISTS _found)
      get_filename_component(_dll \"\${_dll}\" REALPATH)
      file(INSTALL \"\${_dll}\" DESTINATION \"\${_bin}\")
    endforeach()")
  return()
endif()

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

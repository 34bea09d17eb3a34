#!/usr/bin/env bash
# Cross-builds Qt 6 for 64-bit Windows from Debian's source package (qt6-base, the version of the
# host Qt) with mingw-w64 (posix threads): Core, Gui, Widgets, Network (Schannel), Xml, Test and the
# windows platform plugin; no examples, no tests. The host's Qt tools are used (QT_HOST_PATH=/usr).
# GMP with its C++ interface (Debian's gmp source, static) goes into the same prefix: Debian has no
# GMP for mingw either. So does libmosquitto (Debian's mosquitto source, static library only, without
# TLS: Debian has no OpenSSL for mingw), for publishing readings to an MQTT broker.
#   scripts/qt-windows.sh
# Prefix:   ${VORNAL_QT_WINDOWS_PREFIX:-/opt/vornal/qt6-mingw}   (a finished prefix is reused)
# Sources:  ${VORNAL_QT_WINDOWS_WORK:-/var/tmp/vornal-qt6-mingw} (source and build trees, may be removed)
# Needs root (or sudo) once, to add a deb-src entry and install the build packages.
# Takes 15 to 30 minutes on two cores; run it under `nice` on a shared machine.
set -euo pipefail
cd "$(dirname "$0")/.."
prefix=${VORNAL_QT_WINDOWS_PREFIX:-/opt/vornal/qt6-mingw}
work=${VORNAL_QT_WINDOWS_WORK:-/var/tmp/vornal-qt6-mingw}
stamp="$prefix/vornal-qt-build.txt"

qt_done() { [[ -f "$stamp" && -f "$prefix/lib/cmake/Qt6/qt.toolchain.cmake" ]]; }
gmp_done() { [[ -f "$prefix/lib/libgmpxx.a" && -f "$prefix/lib/pkgconfig/gmpxx.pc" ]]; }
mosq_done() { [[ -f "$prefix/lib/libmosquitto_static.a" && -f "$prefix/lib/pkgconfig/libmosquitto.pc" ]]; }
if qt_done && gmp_done && mosq_done; then
  echo "qt-windows: reusing $prefix ($(head -1 "$stamp"))"
  exit 0
fi
start=$(date +%s)

sudo=""
if [[ $(id -u) -ne 0 ]]; then
  command -v sudo >/dev/null || { echo "qt-windows: needs root (or sudo) to install packages" >&2; exit 1; }
  sudo="sudo"
fi
scripts/deps.sh windows

# Debian's source of the host's Qt: a deb-src entry for the installed suite.
host_version=$(dpkg-query -W -f='${Version}' qt6-base-dev)
if ! apt-get source --print-uris "qt6-base=$host_version" >/dev/null 2>&1; then
  suite=$(. /etc/os-release && echo "$VERSION_CODENAME")
  printf 'Types: deb-src\nURIs: http://deb.debian.org/debian\nSuites: %s %s-updates\nComponents: main\nSigned-By: /usr/share/keyrings/debian-archive-keyring.gpg\n\nTypes: deb-src\nURIs: http://deb.debian.org/debian-security\nSuites: %s-security\nComponents: main\nSigned-By: /usr/share/keyrings/debian-archive-keyring.gpg\n' \
    "$suite" "$suite" "$suite" | $sudo tee /etc/apt/sources.list.d/vornal-deb-src.sources >/dev/null
  $sudo apt-get update -qq
fi

mkdir -p "$work"
$sudo mkdir -p "$prefix"

# GMP: static, generic x86-64 code, with gmpxx (the programs link it; nothing to deploy).
if ! gmp_done; then
  gmp_src=$(find "$work" -maxdepth 1 -type d -name 'gmp-*' | head -1)
  if [[ -z "$gmp_src" || ! -f "$gmp_src/configure" ]]; then
    (cd "$work" && apt-get source -qq gmp)
    gmp_src=$(find "$work" -maxdepth 1 -type d -name 'gmp-*' | head -1)
  fi
  [[ -n "$gmp_src" && -f "$gmp_src/configure" ]] || { echo "qt-windows: fetching the GMP source failed" >&2; exit 1; }
  # Debian's patch drops the documentation from Makefile.am and configure.ac but configure is not
  # regenerated: it still writes doc/Makefile, from an input that is gone. A stub that does nothing.
  if [[ ! -f "$gmp_src/doc/Makefile.in" ]]; then
    mkdir -p "$gmp_src/doc"
    printf '%s:\n\t@:\n' 'all install install-data install-exec install-strip uninstall check installcheck clean distclean mostlyclean maintainer-clean' >"$gmp_src/doc/Makefile.in"
  fi
  gmp_build="$work/gmp-build"
  gmp_log="$work/gmp-build.log"
  rm -rf "$gmp_build" && mkdir -p "$gmp_build"
  echo "qt-windows: building GMP from $gmp_src into $prefix (log: $gmp_log)"
  if ! (cd "$gmp_build" && "$gmp_src/configure" --build="$(gcc -dumpmachine)" --host=x86_64-w64-mingw32 \
          CC=x86_64-w64-mingw32-gcc-posix CXX=x86_64-w64-mingw32-g++-posix \
          --prefix="$prefix" --enable-cxx --enable-static --disable-shared &&
        make -j"$(nproc)" && $sudo make install) >"$gmp_log" 2>&1; then
    tail -40 "$gmp_log" >&2; echo "qt-windows: building GMP failed; full log: $gmp_log" >&2; exit 1
  fi
fi

# libmosquitto: the static client library only (no broker, clients, plugins or documentation), no TLS,
# no threads of its own (the publisher drives mosquitto_loop itself). The programs link it statically;
# its pkg-config file says so (LIBMOSQUITTO_STATIC) and names the Winsock library it needs.
if ! mosq_done; then
  mosq_src=$(find "$work" -maxdepth 1 -type d -name 'mosquitto-*' | head -1)
  if [[ -z "$mosq_src" || ! -f "$mosq_src/lib/CMakeLists.txt" ]]; then
    (cd "$work" && apt-get source -qq mosquitto)
    mosq_src=$(find "$work" -maxdepth 1 -type d -name 'mosquitto-*' | head -1)
  fi
  [[ -n "$mosq_src" && -f "$mosq_src/lib/CMakeLists.txt" ]] ||
    { echo "qt-windows: fetching the mosquitto source failed" >&2; exit 1; }
  mosq_version=$(basename "$mosq_src" | sed 's/^mosquitto-//')
  mosq_build="$work/mosquitto-build"
  mosq_log="$work/mosquitto-build.log"
  rm -rf "$mosq_build" && mkdir -p "$mosq_build"
  echo "qt-windows: building libmosquitto $mosq_version (static, no TLS) into $prefix (log: $mosq_log)"
  if ! (cmake -S "$mosq_src" -B "$mosq_build" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$PWD/cmake/mingw-w64.cmake" \
          -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$prefix" \
          -DWITH_TLS=OFF -DWITH_TLS_PSK=OFF -DWITH_CJSON=OFF -DWITH_BROKER=OFF -DWITH_APPS=OFF \
          -DWITH_CLIENTS=OFF -DWITH_PLUGINS=OFF -DWITH_LIB_CPP=OFF -DDOCUMENTATION=OFF \
          -DWITH_STATIC_LIBRARIES=ON -DWITH_THREADING=OFF -DWITH_SRV=OFF &&
        cmake --build "$mosq_build" -j"$(nproc)" --target libmosquitto_static) >"$mosq_log" 2>&1; then
    tail -40 "$mosq_log" >&2; echo "qt-windows: building libmosquitto failed; full log: $mosq_log" >&2; exit 1
  fi
  $sudo install -D -m 644 "$mosq_build/lib/libmosquitto_static.a" "$prefix/lib/libmosquitto_static.a"
  $sudo install -D -m 644 "$mosq_src/include/mosquitto.h" "$prefix/include/mosquitto.h"
  $sudo install -D -m 644 "$mosq_src/include/mqtt_protocol.h" "$prefix/include/mqtt_protocol.h"
  printf 'prefix=%s\nlibdir=${prefix}/lib\nincludedir=${prefix}/include\n# mqtts:// cannot be used: built without TLS\ntls=no\n\nName: mosquitto\nDescription: mosquitto MQTT client library, static, without TLS (built by Vornal scripts/qt-windows.sh)\nVersion: %s\nCflags: -I${includedir} -DLIBMOSQUITTO_STATIC\nLibs: -L${libdir} -lmosquitto_static -lws2_32\n' \
    "$prefix" "$mosq_version" | $sudo tee "$prefix/lib/pkgconfig/libmosquitto.pc.tmp" >/dev/null
  $sudo mv "$prefix/lib/pkgconfig/libmosquitto.pc.tmp" "$prefix/lib/pkgconfig/libmosquitto.pc"
fi
if qt_done; then
  echo "qt-windows: reusing Qt in $prefix ($(head -1 "$stamp"))"
  exit 0
fi

src=$(find "$work" -maxdepth 1 -type d -name 'qt6-base-*' | head -1)
if [[ -z "$src" || ! -f "$src/CMakeLists.txt" ]]; then
  # The version of the host Qt when the archive still has it, else the suite's current one
  # (security updates keep the same upstream version).
  (cd "$work" && { apt-get source -qq "qt6-base=$host_version" 2>/dev/null || apt-get source -qq qt6-base; })
  src=$(find "$work" -maxdepth 1 -type d -name 'qt6-base-*' | head -1)
fi
[[ -n "$src" && -f "$src/CMakeLists.txt" ]] || { echo "qt-windows: fetching the Qt source failed" >&2; exit 1; }

# The Qt DLLs use the shared mingw runtime (libgcc_s_seh-1, libstdc++-6, libwinpthread-1).
cat >"$work/mingw-toolchain.cmake" <<'EOF'
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(CMAKE_C_COMPILER x86_64-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER x86_64-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER x86_64-w64-mingw32-windres)
set(CMAKE_FIND_ROOT_PATH /usr/x86_64-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
EOF

build="$work/build"
log="$work/build.log"
mkdir -p "$build"
echo "qt-windows: building Qt from $src into $prefix (log: $log)"
# Debian removed the bundled sqlite, wintab and iaccessible2: SQL, tablet events and accessibility
# are off. OpenGL stays on (dynamic): the 6.4 windows platform plugin does not compile without it.
if ! cmake -S "$src" -B "$build" -G Ninja \
    -DCMAKE_TOOLCHAIN_FILE="$work/mingw-toolchain.cmake" \
    -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$prefix" \
    -DQT_HOST_PATH=/usr -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake \
    -DQT_BUILD_EXAMPLES=OFF -DQT_BUILD_TESTS=OFF -DQT_BUILD_BENCHMARKS=OFF \
    -DFEATURE_sql=OFF -DFEATURE_dbus=OFF -DFEATURE_accessibility=OFF -DFEATURE_tabletevent=OFF \
    -DFEATURE_printsupport=OFF -DFEATURE_concurrent=OFF -DFEATURE_openssl=OFF -DINPUT_openssl=no \
    -DFEATURE_system_zlib=OFF -DFEATURE_system_pcre2=OFF -DFEATURE_system_freetype=OFF \
    -DFEATURE_system_harfbuzz=OFF -DFEATURE_system_png=OFF -DFEATURE_system_jpeg=OFF \
    -DFEATURE_system_doubleconversion=OFF >"$log" 2>&1; then
  tail -60 "$log" >&2; echo "qt-windows: configuring Qt failed; full log: $log" >&2; exit 1
fi
if ! cmake --build "$build" -j"$(nproc)" >>"$log" 2>&1; then
  grep -E -B2 -A8 'FAILED|error:' "$log" | head -80 >&2
  echo "qt-windows: building Qt failed; full log: $log" >&2; exit 1
fi
if ! $sudo cmake --install "$build" >>"$log" 2>&1; then
  tail -40 "$log" >&2; echo "qt-windows: installing Qt failed; full log: $log" >&2; exit 1
fi
# The prefix stands on its own: Qt's toolchain file names the compiler toolchain it was built with.
$sudo cp "$work/mingw-toolchain.cmake" "$prefix/lib/cmake/vornal-mingw-toolchain.cmake"
$sudo sed -i "s|$work/mingw-toolchain.cmake|$prefix/lib/cmake/vornal-mingw-toolchain.cmake|" \
  "$prefix/lib/cmake/Qt6/qt.toolchain.cmake"
minutes=$((($(date +%s) - start + 59) / 60))
printf 'Qt %s for x86_64-w64-mingw32, built in %d min on %d cores, %s\n' \
  "$(basename "$src" | sed 's/^qt6-base-//')" "$minutes" "$(nproc)" "$(date -u +%F)" | $sudo tee "$stamp" >/dev/null
echo "qt-windows: done in $minutes min: $prefix"

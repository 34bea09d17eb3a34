#!/usr/bin/env bash
# Installs the Debian packages Vornal needs that are not installed yet. Quiet when nothing is missing.
#   scripts/deps.sh          packages to build and run
#   scripts/deps.sh test     also what the test suite needs (Xvfb, ptys, cross compiler, ...)
#   scripts/deps.sh windows  also what the Windows build needs: cross-building Qt, the installer, wine
# With Qt for Windows built (scripts/qt-windows.sh), `test` includes `windows`: the suite then runs the
# Windows tests under wine.
set -euo pipefail
qt_windows=${VORNAL_QT_WINDOWS_PREFIX:-/opt/vornal/qt6-mingw}/vornal-qt-build.txt

packages=(
  build-essential cmake ninja-build pkg-config git
  qt6-base-dev qt6-translations-l10n libgmp-dev
  libxtst-dev libxkbcommon-dev libx11-dev
  libwayland-dev libwayland-bin
  libfluidsynth-dev timgm6mb-soundfont
  libmosquitto-dev
)
if [[ "${1:-}" == "test" ]]; then
  packages+=(
    googletest libgtest-dev libgmock-dev libbenchmark-dev
    xvfb xauth x11-xkb-utils x11-utils
    zenity # a GTK receiver for the X11 typing tests
    sway qt6-wayland wtype dbus dbus-x11 chromium
    gnome-shell mutter kwin-wayland xdg-desktop-portal xdg-desktop-portal-gnome xdg-desktop-portal-kde
    qtwayland5 python3-gi gir1.2-atspi-2.0 at-spi2-core libglib2.0-bin dconf-service dbus-bin
    socat openssl ser2net
    mosquitto mosquitto-clients # a real MQTT broker for the publishing tests
    g++-mingw-w64-x86-64
    clang-format clang libclang-rt-14-dev
    desktop-file-utils appstream man-db debootstrap
  )
fi
if [[ "${1:-}" == "windows" || ("${1:-}" == "test" && -f "$qt_windows" && "${VORNAL_WINDOWS_TESTS:-}" != 0) ]]; then
  packages+=(
    g++-mingw-w64-x86-64-posix qt6-base-dev-tools dpkg-dev ninja-build m4
    nsis wine64 socat xvfb
  )
fi

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done
[[ ${#missing[@]} -eq 0 ]] && exit 0

echo "Installing: ${missing[*]}"
sudo=""
if [[ $(id -u) -ne 0 ]]; then
  command -v sudo >/dev/null || { echo "Need root (or sudo) to install: ${missing[*]}" >&2; exit 1; }
  sudo="sudo"
fi
export DEBIAN_FRONTEND=noninteractive
log=$(mktemp)
if ! { $sudo apt-get update -qq && $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"; } >"$log" 2>&1; then
  cat "$log" >&2
  echo "Installing the packages failed (see above)." >&2
  rm -f "$log"
  exit 1
fi
rm -f "$log"

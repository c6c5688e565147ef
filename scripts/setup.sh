#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need; does nothing
# when they are all there already. Needs root (or sudo).
set -euo pipefail
packages=(
  cmake ninja-build g++ libgtest-dev googletest python3
  clang libclang-rt-14-dev llvm
  mingw-w64 g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 wixl msitools
  wine64 xvfb x11-utils xdotool socat imagemagick
  qt6-base-dev qt6-connectivity-dev qt6-serialport-dev
  libx11-dev libxtst-dev libxi-dev libxss-dev libxkbcommon-dev libxkbcommon-x11-dev libxcb1-dev libcanberra-dev icewm
  libwayland-dev wayland-protocols qt6-wayland sway wev
  dbus python3-dbusmock
  ibus ibus-gtk3 fcitx5 fcitx5-frontend-gtk3 zenity
  xwayland x11-xkb-utils
  gnome-shell xdg-desktop-portal xdg-desktop-portal-gnome
  kwin-wayland xdg-desktop-portal-kde qtwayland5
  at-spi2-core python3-gi python3-pyatspi gir1.2-atspi-2.0 gir1.2-gtk-3.0 python3-pyqt6 xterm
  libreoffice-calc python3-uno
)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if ((${#missing[@]})); then
  SUDO=""
  [ "$(id -u)" -eq 0 ] || SUDO="sudo"
  echo "Installing: ${missing[*]}"
  $SUDO apt-get update
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y --no-install-recommends "${missing[@]}"
fi

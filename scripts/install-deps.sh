#!/usr/bin/env bash
# Installs, with apt-get, whatever the build, the tests and the player still lack.
# Safe to run again: packages already present are left alone.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config clang-format
  clang-14 libclang-rt-14-dev
  qt6-base-dev qt6-base-dev-tools qt6-base-private-dev qt6-svg-dev qt6-qpa-plugins libgl-dev
  libgtest-dev libgmock-dev libxcb1-dev
  libgstreamer1.0-dev libgstreamer-plugins-base1.0-dev
  gstreamer1.0-tools gstreamer1.0-plugins-base gstreamer1.0-plugins-good
  gstreamer1.0-plugins-bad gstreamer1.0-plugins-ugly gstreamer1.0-libav
  gstreamer1.0-pulseaudio gstreamer1.0-alsa gstreamer1.0-x gstreamer1.0-gl
  libfluidsynth3 fluid-soundfont-gm
  xvfb ccache gdb lame ffmpeg
  qt6-translations-l10n
  pulseaudio pulseaudio-utils libpulse-dev
  dbus dbus-x11 desktop-file-utils shared-mime-info libglib2.0-bin
  dpkg-dev appstream man-db
  qt6-wayland weston
  rtkit polkitd
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q '^install ok installed$'; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  echo "install-deps: everything is already installed"
  exit 0
fi

echo "install-deps: installing ${missing[*]}"
SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"

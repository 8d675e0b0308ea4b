#!/usr/bin/env bash
# Installs what building, playing and testing Ombura need on Debian 12, and only what is missing.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config
  qt6-base-dev libgl-dev
  libfluidsynth-dev libsdl2-dev
  libsndfile1-dev libsoxr-dev libsamplerate0-dev libebur128-dev sox
  qt6-svg-dev abcmidi
  googletest libgtest-dev
  fonts-ipafont-gothic fonts-kouzan-mouhitsu
  fluid-soundfont-gm timgm6mb-soundfont fluidsynth
  xvfb xauth xdotool x11-utils imagemagick
  weston qt6-wayland
  desktop-file-utils appstream
  lintian dpkg-dev file
  at-spi2-core dbus-x11 python3-gi gir1.2-atspi-2.0 python3-pil openbox fontconfig
  clang libclang-rt-14-dev clang-format clang-tidy ccache
  strace time python3 libxcb-shm0-dev libxcb1-dev
  pulseaudio pulseaudio-utils pipewire pipewire-bin pipewire-pulse wireplumber libpipewire-0.3-0 dbus
  python3-numpy
  fluidr3mono-gm-soundfont
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
$sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"

#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Installs what Ombura needs on Debian 12 or 13, and only what is missing.
#   tools/setup.sh play      what building and running the game needs (./play)
#   tools/setup.sh package   that, and what making the Debian package adds (tools/package.sh)
#   tools/setup.sh           all that, and everything the tests, the checks and the package test use
# A package counts as present when dpkg says it is installed, so a second run on a complete machine
# never calls apt and never asks for a password.
set -euo pipefail

# Building and running the game. The SoundFont is FluidR3_GM, the one the Debian package depends
# on, so that the game sounds the same however it was installed.
play=(
  build-essential cmake ninja-build pkg-config
  qt6-base-dev qt6-svg-dev libgl-dev libxcb1-dev qt6-wayland
  libfluidsynth-dev libglib2.0-dev libsdl2-dev libsndfile1-dev libsoxr-dev
  abcmidi
  fonts-ipafont-gothic fonts-kouzan-mouhitsu
  fluid-soundfont-gm
)

# Making the Debian package: dpkg-shlibdeps, and file, which CPack asks what the program is.
package=(dpkg-dev file)

# The tests, the sanitizer and fuzzer builds, the formatter and the package test. clang-format has
# its version pinned, because each release formats a little differently and CI's verdict must not
# depend on the release; clang, clang-tidy and the sanitizer runtimes are the release's own.
develop=(
  ccache
  googletest libgtest-dev libebur128-dev libxcb-shm0-dev sox fluidsynth
  timgm6mb-soundfont fluidr3mono-gm-soundfont musescore-general-soundfont-small python3-mido
  xvfb xauth xdotool x11-utils imagemagick openbox fontconfig
  weston
  desktop-file-utils appstream lintian devscripts
  at-spi2-core dbus-x11 python3-gi gir1.2-atspi-2.0 python3-pil
  clang libclang-rt-dev clang-format-19 clang-tidy
  strace time python3 python3-numpy
  pulseaudio pulseaudio-utils pipewire pipewire-bin pipewire-pulse wireplumber dbus
)

wanted=("${play[@]}")
case "${1:-all}" in
  play) ;;
  package) wanted+=("${package[@]}") ;;
  all) wanted+=("${package[@]}" "${develop[@]}") ;;
  *) echo "usage: $0 [play|package]" >&2; exit 2 ;;
esac

# dpkg-query answers for all the names in one call; a name it does not know is simply missing.
installed=$(dpkg-query -W -f='${Package} ${Status}\n' "${wanted[@]}" 2>/dev/null |
  awk '$NF == "installed" { print $1 }' || true)
missing=()
for p in "${wanted[@]}"; do
  grep -qxF "$p" <<<"$installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
$sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"

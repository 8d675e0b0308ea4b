#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Builds the Debian package from the install rules with CPack: build/ombura_<version>-1_<arch>.deb.
# Installs only what building the game and the package needs, and builds only what the package
# holds, so it works the same from a ./play set-up and from a full build with the tests.
set -euo pipefail
cd "$(dirname "$0")/.."
tools/setup.sh package
tools/build.sh --game
cmake --build build -j"$(nproc)" --target ombura_package_contents
cpack --config build/CPackConfig.cmake -B build >/dev/null
ls -t build/ombura_*.deb | head -n 1

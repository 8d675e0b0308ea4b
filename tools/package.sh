#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Builds the Debian package from the install rules with CPack: build/ombura_<version>-1_<arch>.deb.
set -euo pipefail
cd "$(dirname "$0")/.."
tools/setup.sh
tools/build.sh
cmake --build build --target package >/dev/null
ls -t build/ombura_*.deb | head -n 1

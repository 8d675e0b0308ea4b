#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Configures and builds into build/ (the program lands as build/ombura with its data files).
#   tools/build.sh [cmake options...]   everything: the game, the tests and the tools
#   tools/build.sh --game               the game alone, as ./play wants it: no test is configured
#                                       in a new build folder, and none is built in any
set -euo pipefail
cd "$(dirname "$0")/.."
targets=()
options=(-DBUILD_TESTING=ON)
if [ "${1:-}" = "--game" ]; then
  shift
  targets=(--target ombura)
  options=()
  # Once configured, the build itself runs CMake again when a CMakeLists.txt changes; calling it
  # here as well would only cost a second on every start.
  if [ -f build/CMakeCache.txt ] && [ $# -eq 0 ]; then
    exec cmake --build build -j"$(nproc)" "${targets[@]}"
  fi
  [ -f build/CMakeCache.txt ] || options=(-DBUILD_TESTING=OFF)
fi
launcher=()
command -v ccache >/dev/null && launcher=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
# Like the compiler's (-DOMBURA_WERROR=ON), CMake's own warnings fail the build.
messages=$(cmake -S . -B build -G Ninja "${launcher[@]}" -DCMAKE_BUILD_TYPE=Release -DOMBURA_WERROR=ON \
  "${options[@]}" "$@" 2>&1 >/dev/null) || { echo "$messages" >&2; exit 1; }
if [ -n "$messages" ]; then
  echo "$messages" >&2
  if grep -qE '^CMake (Deprecation )?Warning' <<<"$messages"; then
    echo "tools/build.sh: CMake warned while configuring (above)" >&2
    exit 1
  fi
fi
cmake --build build -j"$(nproc)" "${targets[@]}"

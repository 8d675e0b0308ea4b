#!/usr/bin/env bash
# Configures and builds into build/ (the program lands as build/ombura with its data files).
set -euo pipefail
cd "$(dirname "$0")/.."
launcher=()
command -v ccache >/dev/null && launcher=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
cmake -S . -B build -G Ninja "${launcher[@]}" -DCMAKE_BUILD_TYPE=Release -DOMBURA_WERROR=ON "$@" >/dev/null
cmake --build build -j"$(nproc)"

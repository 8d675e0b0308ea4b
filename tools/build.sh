#!/usr/bin/env bash
# Configures and builds into build/ (the program lands as build/ombura with its data files).
set -euo pipefail
cd "$(dirname "$0")/.."
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DOMBURA_WERROR=ON "$@" >/dev/null
cmake --build build -j"$(nproc)"

#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# The music channel's figures, on the game's own bgm.dat when a build has made one.
set -euo pipefail
build=${1:-build}
bench_build=${2:-build-bench}
tune=()
for candidate in "$bench_build/bgm.dat" "$build/bgm.dat"; do
  if [ -f "$candidate" ]; then
    tune=("$candidate")
    break
  fi
done
"$bench_build/bench/bench_music" "${tune[@]}"

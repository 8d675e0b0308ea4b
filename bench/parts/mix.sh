#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Loudness, true peak and music cuts of the shipped files, the resampler's stopband, and the
# first request of a 3-minute effect file.
set -euo pipefail
build=${1:-build}
bench_build=${2:-build-bench}
data=assets/data
[ -f "$build/bgm.dat" ] && data=$build
"$bench_build/bench/bench_mix" "$data"

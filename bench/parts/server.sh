#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# The game's sound through a private PulseAudio and a private PipeWire: press-to-sink latency at
# the null sink's monitor, and dropouts over three minutes of music with presses.
set -euo pipefail
build=${1:-build}
bench_build=${2:-build-bench}
python3 bench/sound_server.py "$bench_build" "$build" "${MUSIC_SECONDS:-180}" pulseaudio,pipewire

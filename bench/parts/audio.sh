#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Press-to-sample latency of the effects through the SDL output (dummy driver), 1,000 presses.
set -euo pipefail
bench_build=${2:-build-bench}
SDL_AUDIODRIVER=dummy "$bench_build/bench/bench_audio" 512 1000

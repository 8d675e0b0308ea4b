#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Where the tune's restart lands against its beat: the running game through a private PulseAudio,
# three starts of two restarts each (about five minutes).
set -euo pipefail
build=${1:-build}
bench_build=${2:-build-bench}
/usr/bin/python3 bench/loop_seam.py "$bench_build" "$build" 3 2

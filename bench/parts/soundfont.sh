#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# The font check per installed General MIDI font: directory, check and chooser costs.
set -euo pipefail
bench_build=${2:-build-bench}
"$bench_build/bench/bench_soundfont"

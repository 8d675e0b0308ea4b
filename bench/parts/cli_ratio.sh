#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# The game's CPU against FluidSynth's own player on bgm.dat through one private PulseAudio, by
# turns over five rounds (about five minutes): music only, and with a press every 200 ms.
set -euo pipefail
python3 "$(dirname "$0")/../cli_ratio.py" "${1:-build}" "${ROUNDS:-5}"

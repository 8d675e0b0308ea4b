#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Start to first sound, per SoundFont, with the shipped tune and a 16-channel one, quiet and with
# two CPU hogs at nice 10; and the peak memory of each.
set -euo pipefail
python3 "$(dirname "$0")/../music_start.py" "${1:-build}"

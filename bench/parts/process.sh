#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# CPU while stopped and while playing, and peak memory, of build/ombura under a private Xvfb.
set -euo pipefail
python3 "$(dirname "$0")/../process.py" "${1:-build}"

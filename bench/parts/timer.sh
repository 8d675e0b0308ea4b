#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Timer1's beat in the running program, three runs; the worst p99 is reported.
set -euo pipefail
bench_build=${2:-build-bench}
worst=0
for i in 1 2 3; do
  out=$(SDL_AUDIODRIVER=dummy "$bench_build/bench/timer_jitter")
  echo "$out" | sed 's/^/  run '"$i"': /' >&2
  echo "$out" | grep press_handler || true
  p99=$(echo "$out" | awk '/^timer1_jitter_p99_ms/ {print $2}')
  worst=$(awk -v a="$worst" -v b="$p99" 'BEGIN{print (b>a)?b:a}')
done
echo "timer1_jitter_p99_ms $worst"

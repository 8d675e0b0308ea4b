#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Builds the libFuzzer targets with clang and runs each for a bounded time; any crash, leak,
# undefined behaviour or hang fails the run.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${FUZZ_SECONDS:-60}
CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DOMBURA_FUZZ=ON \
  -DBUILD_TESTING=OFF >/dev/null
cmake --build build-fuzz -j"$(nproc)" --target fuzz_all
# Allocations that system libraries keep (libvorbis leaks one on a broken Ogg header, for
# example) are not ours to find.
export LSAN_OPTIONS="suppressions=$PWD/tools/lsan.supp${LSAN_OPTIONS:+:$LSAN_OPTIONS}"
status=0
for target in build-fuzz/fuzz/fuzz_*; do
  [ -x "$target" ] || continue
  name=$(basename "$target")
  corpus_src="fuzz/corpus/${name#fuzz_}"
  work=$(mktemp -d)
  [ -d "$corpus_src" ] && cp -r "$corpus_src"/. "$work"/
  echo "== $name for ${seconds}s"
  if ! "$target" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
        -artifact_prefix="build-fuzz/$name-" "$work" 2>"build-fuzz/$name.log"; then
    tail -40 "build-fuzz/$name.log"
    status=1
  else
    grep -E "stat::number_of_executed_units|Done" "build-fuzz/$name.log" | tail -2
  fi
  rm -rf "$work"
done
exit $status

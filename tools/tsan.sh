#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Builds the music and audio suites with ThreadSanitizer (clang) into build-tsan/ and runs them: the
# sound code shares state between the game's thread, the music thread, the loader and SDL's
# callback thread, and any data race fails the run. The suites are chosen by their CTest labels.
set -euo pipefail
cd "$(dirname "$0")/.."
launcher=()
command -v ccache >/dev/null && launcher=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
CC=clang CXX=clang++ cmake -S . -B build-tsan -G Ninja "${launcher[@]}" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DOMBURA_TSAN=ON -DOMBURA_WERROR=ON >/dev/null
cmake --build build-tsan -j"$(nproc)" --target tests_music tests_audio
# SDL's and FluidSynth's own threads are not instrumented, but their locks go through the pthread
# calls ThreadSanitizer watches, so they need nothing. Only libpulse, which synchronises with
# atomics of its own, is named in tools/tsan.supp, with the reason. allocator_may_return_null lets
# FluidSynth 2.3's unchecked 2^64 - 2 byte allocation for a damaged SF3 sample fail as glibc's
# malloc fails it, as under the address sanitizer (tools/sanitize.sh says why).
export TSAN_OPTIONS="halt_on_error=1:second_deadlock_stack=1:allocator_may_return_null=1:suppressions=$PWD/tools/tsan.supp"
# ThreadSanitizer needs its fixed shadow mapping: with the kernel's full address randomisation it
# cannot start ("unexpected memory mapping"), so the suites run with randomisation off.
run=()
if setarch "$(uname -m)" -R true 2>/dev/null; then run=(setarch "$(uname -m)" -R); fi
"${run[@]}" ctest --test-dir build-tsan --output-on-failure -j"$(nproc)" -L 'music|audio' --timeout 600

#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Builds the whole test suite with AddressSanitizer and UndefinedBehaviorSanitizer and runs it.
set -euo pipefail
cd "$(dirname "$0")/.."
cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DOMBURA_SANITIZE=ON -DOMBURA_WERROR=ON >/dev/null
cmake --build build-asan -j"$(nproc)"
# allocator_may_return_null: FluidSynth 2.3 reads an SF3 font's Ogg Vorbis sample through
# libsndfile, and multiplies the length libsndfile reports by two before allocating, unchecked.
# For a damaged stream whose length libsndfile cannot tell, that length is SF_COUNT_MAX, and the
# allocation 2^64 - 2 bytes. glibc's malloc refuses it, FluidSynth leaves the sample empty and the
# font plays on without it; AddressSanitizer would abort instead. The music tests play such a font.
export ASAN_OPTIONS="detect_leaks=1:abort_on_error=1:allocator_may_return_null=1"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
export LSAN_OPTIONS="suppressions=$PWD/tools/lsan.supp:print_suppressions=0"
# The Debian package is made from the ordinary build; ./run-tests checks it there. As there, only
# the end-to-end tests get a second run.
status=0
ctest --test-dir build-asan --output-on-failure -j"$(nproc)" --timeout 900 -LE 'package|e2e' || status=1
ctest --test-dir build-asan --output-on-failure --timeout 900 --repeat until-pass:2 -L e2e -LE package || status=1
exit "$status"

#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Runs clang-tidy with the project's .clang-tidy over the program's own sources (app, game, form,
# sound, assets, tools), using build/compile_commands.json, and fails on any finding. The test
# suites are left out to keep the stage within a few minutes on two cores.
set -euo pipefail
cd "$(dirname "$0")/.."
[ -f build/compile_commands.json ] || tools/build.sh
# Generated sources (moc, resources) must exist for the files that include them.
cmake --build build -j"$(nproc)" >/dev/null
mapfile -t files < <(git ls-files 'app/*.cpp' 'game/*.cpp' 'form/*.cpp' 'sound/*.cpp' 'assets/*.cpp' 'tools/*.cpp')
# -Wno-error: the compiler's own warnings are the build's business (GCC, -Werror); clang's take on
# them would only add noise here.
status=0
run-clang-tidy -quiet -p build -j "$(nproc)" -extra-arg=-Wno-error "${files[@]/#/$PWD/}" >build/tidy.log 2>&1 || status=$?
sed -i 's/\x1b\[[0-9;]*m//g' build/tidy.log
grep -v -E '^(clang-tidy|[0-9]+ warnings? (and [0-9]+ errors? )?generated|Suppressed [0-9]+ warnings|Use -header-filter|Error while processing)' build/tidy.log || true
[ "$status" = 0 ] && echo "clang-tidy: ${#files[@]} files, no findings"
exit $status

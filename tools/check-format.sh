#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Fails when any C or C++ source differs from what the project's .clang-format makes of it, as
# clang-format 19 formats it: every release formats a little differently, and 19 is in both Debian
# 12 and 13, so the verdict is the same on either. Fails too when a source file or script does not
# name its licence in its first three lines.
set -euo pipefail
cd "$(dirname "$0")/.."
status=0
while IFS= read -r -d '' file; do
  if ! clang-format-19 --dry-run --Werror "$file" 2>/dev/null; then
    echo "not formatted: $file"
    status=1
  fi
done < <(git ls-files -z '*.cpp' '*.h' '*.c')
while IFS= read -r -d '' file; do
  if ! head -n 3 "$file" | grep -q 'SPDX-License-Identifier: GPL-3.0-or-later'; then
    echo "no licence line: $file"
    status=1
  fi
done < <(git ls-files -z '*.cpp' '*.h' '*.c' '*.h.in' '*.py' '*.sh' '*.cmake' '*.abc' '*.supp' \
  '*CMakeLists.txt' play run-tests .ci/run bench/run)
exit $status

#!/usr/bin/env bash
# Fails when any C or C++ source differs from what the project's .clang-format makes of it, as
# clang-format 19 formats it: every release formats a little differently, and 19 is in both Debian
# 12 and 13, so the verdict is the same on either.
set -euo pipefail
cd "$(dirname "$0")/.."
status=0
while IFS= read -r -d '' file; do
  if ! clang-format-19 --dry-run --Werror "$file" 2>/dev/null; then
    echo "not formatted: $file"
    status=1
  fi
done < <(git ls-files -z '*.cpp' '*.h' '*.c')
exit $status

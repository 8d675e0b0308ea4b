#!/usr/bin/env bash
# Fails when any C or C++ source differs from what the project's .clang-format makes of it.
set -euo pipefail
cd "$(dirname "$0")/.."
status=0
while IFS= read -r -d '' file; do
  if ! clang-format --dry-run --Werror "$file" 2>/dev/null; then
    echo "not formatted: $file"
    status=1
  fi
done < <(git ls-files -z '*.cpp' '*.h' '*.c')
exit $status

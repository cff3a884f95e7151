#!/usr/bin/env bash
# Fails when a C++ file of the repository differs from what clang-format
# makes of it (style in .clang-format at the top).
set -euo pipefail
cd "$(dirname "$0")/.."
files=$(git ls-files '*.cpp' '*.h' 2>/dev/null || find . -path ./build -prune -o \( -name '*.cpp' -o -name '*.h' \) -print)
if ! clang-format --dry-run -Werror $files; then
  echo "check_format: run 'clang-format -i' on the files above" >&2
  exit 1
fi
echo "check_format: $(echo "$files" | wc -w) files formatted"

#!/usr/bin/env bash
# Fails when a C++ file of the project is not formatted by the project's .clang-format.
# With --fix, formats them instead.
set -euo pipefail
cd "$(dirname "$0")/.."

command -v clang-format > /dev/null || { echo "format-check.sh: clang-format is missing" >&2; exit 1; }
mapfile -t files < <(git ls-files -co --exclude-standard -- '*.cpp' '*.h' | grep -v '^build/')
if [ "${1:-}" = "--fix" ]; then
    clang-format -i "${files[@]}"
    exit 0
fi
if ! clang-format --dry-run --Werror "${files[@]}"; then
    echo "format-check.sh: run scripts/format-check.sh --fix" >&2
    exit 1
fi
echo "format-check.sh: ${#files[@]} files formatted"

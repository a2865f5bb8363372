#!/usr/bin/env bash
# Checks that every C++ file of the tree is formatted as .clang-format says;
# prints the offending places and exits non-zero when one is not.
#   scripts/check-format.sh           check
#   scripts/check-format.sh --fix     rewrite the files in place instead
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root"
command -v clang-format >/dev/null || { echo "check-format: clang-format not found (Debian package clang-format)" >&2; exit 2; }
mapfile -t files < <(git ls-files '*.cpp' '*.h')
if [ "${1:-}" = --fix ]; then
  clang-format -i "${files[@]}"
else
  clang-format --dry-run --Werror "${files[@]}"
  echo "check-format: ${#files[@]} files formatted"
fi

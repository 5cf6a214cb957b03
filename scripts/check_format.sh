#!/bin/bash
# Checks that every C++ file git tracks is laid out as .clang-format says, with the clang-format
# Debian 12 ships (14): another version lays some constructs out otherwise, so it is not asked.
# check_format.sh [ROOT] [--fix], in either order. Exit 0 when all is formatted, 1 naming the
# files that are not, 77 when clang-format 14 is missing.
set -u
root=$(cd "$(dirname "$0")/.." && pwd)
fix=
for arg in "$@"; do
  if [ "$arg" = --fix ]; then fix=--fix; else root=$arg; fi
done
tool=
for candidate in clang-format-14 clang-format; do
  if command -v "$candidate" >/dev/null && "$candidate" --version | grep -q ' version 14\.'; then
    tool=$candidate
    break
  fi
done
if [ -z "$tool" ]; then
  echo "check_format: skipped, clang-format 14 is not installed"
  exit 77
fi
cd "$root" || exit 1
mapfile -t files < <(git ls-files '*.cpp' '*.h')
if [ "$fix" = --fix ]; then
  exec "$tool" -i --style=file "${files[@]}"
fi
# Each file that differs is named in clang-format's own "file:line:col: error:" lines.
mapfile -t unformatted < <(printf '%s\0' "${files[@]}" |
  xargs -0 -n 16 -P "$(nproc)" "$tool" --style=file --dry-run --Werror 2>&1 >/dev/null |
  sed -n 's/^\([^:]*\):[0-9]*:[0-9]*: error: .*/\1/p' | sort -u)
if [ "${#unformatted[@]}" -gt 0 ]; then
  printf '%s\n' "${unformatted[@]}"
  echo "check_format: ${#unformatted[@]} files differ from .clang-format (scripts/check_format.sh --fix lays them out)" >&2
  exit 1
fi
echo "check_format: ${#files[@]} files as .clang-format lays them out"

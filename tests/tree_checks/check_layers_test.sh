#!/usr/bin/env bash
# check_layers.sh on small trees of three components, low (bottom), mid and top, each case
# planting one fault: it must pass the clean tree and name each planted fault.
# check_layers_test.sh CHECK OUTDIR.
set -uo pipefail
CHECK="$1" OUTDIR="$2"
FAILURES=0
fail() { printf 'FAIL (%s): %s\n' "$CASE" "$*"; FAILURES=$((FAILURES + 1)); }

# new_tree NAME [ROWS]: a git tree whose architecture notes allow ROWS (mid over low, top over
# both by default), with one source file and one header per component, each including only below.
new_tree() {
  CASE="$1"
  TREE="$OUTDIR/$1"
  rm -rf "$TREE"
  mkdir -p "$TREE/docs"
  local rows="${2:-low  base/low  :
mid  platform/mid  : low
top  top  : mid low}"
  printf '# Notes\n\n## Allowed arrows\n\n```\n# name folder : may include\n%s\n```\n\nAfter.\n```\nlow base/low : top\n```\n' \
    "$rows" >"$TREE/docs/architecture.md"
  add "$TREE/base/low/include/tessel/low/low.h" '#pragma once'
  add "$TREE/base/low/low.cpp" '#include "tessel/low/low.h"'
  add "$TREE/platform/mid/include/tessel/mid/mid.h" '#include "tessel/low/low.h"'
  add "$TREE/platform/mid/mid.cpp" '#include "tessel/mid/mid.h"' '#include "tessel/version.h"'
  add "$TREE/top/main.cpp" '#include "tessel/mid/mid.h"' '  #  include "tessel/low/low.h"'
  add "$TREE/tests/low_test.cpp" '#include "tessel/top/anything.h"'
  git -C "$TREE" init -q
}
add() { local file="$1"; shift; mkdir -p "$(dirname "$file")"; printf '%s\n' "$@" >"$file"; }
# check WANT [TEXT]: the check exits WANT and, when TEXT is given, prints it as one whole line.
check() {
  git -C "$TREE" add -A
  local out status
  out="$(bash "$CHECK" "$TREE" 2>&1)"
  status=$?
  [ "$status" = "$1" ] || fail "exit status $status, not $1:$(printf '\n%s' "$out")"
  [ -z "${2:-}" ] || grep -qxF -- "$2" <<<"$out" || fail "no line «$2» in:$(printf '\n%s' "$out")"
}

new_tree clean
check 0

new_tree upward_include
add "$TREE/base/low/low.cpp" '#include "tessel/low/low.h"' '#include "tessel/mid/mid.h"'
check 1 'base/low/low.cpp:2: low may not include tessel/mid/ (it may include:)'

new_tree skipping_a_row_not_allowed
add "$TREE/platform/mid/mid.cpp" '#include "tessel/top/top.h"'
check 1 'platform/mid/mid.cpp:1: mid may not include tessel/top/ (it may include: low)'

new_tree header_includes_upward
add "$TREE/platform/mid/include/tessel/mid/mid.h" '#pragma once' '#include "tessel/top/top.h"'
check 1 'platform/mid/include/tessel/mid/mid.h:2: mid may not include tessel/top/ (it may include: low)'

new_tree unknown_prefix
add "$TREE/top/main.cpp" '#include "tessel/platform/old.h"'
check 1 'top/main.cpp:1: includes tessel/platform/, which is no component'

new_tree prefix_of_another_name
add "$TREE/platform/mid/include/tessel/middle/mid.h" '#pragma once'
check 1 'platform/mid/include/tessel/middle/mid.h: the prefix tessel/middle/ in the folder of mid'

new_tree cycle "low  base/low  : top
mid  platform/mid  : low
top  top  : mid low"
check 1 'docs/architecture.md: low and top reach each other (a cycle)'

new_tree unknown_component "low  base/low  :
mid  platform/mid  : low lower
top  top  : mid low"
check 1 'docs/architecture.md: mid may include lower, which is no component'

new_tree no_table ""
printf '# Notes\n' >"$TREE/docs/architecture.md"
check 1 "check_layers: no allowed arrows in $TREE/docs/architecture.md"

[ "$FAILURES" = 0 ] || { echo "$FAILURES failed"; exit 1; }
echo "all cases passed"

#!/bin/bash
# Checks that every arrow between components points down: each component's sources include
# only its own headers and those of the components docs/architecture.md allows it, the allowed
# arrows have no cycle, and a component's folder, include prefix and library say the same name.
# check_layers.sh [ROOT]. Exit 0 when all holds, 1 with one line per fault otherwise.
set -u
root=${1:-$(cd "$(dirname "$0")/.." && pwd)}
table=$root/docs/architecture.md

# The table is the fenced block after the heading "## Allowed arrows":
# "name  folder  : the components it may include".
rules=$(awk '/^## Allowed arrows/ { section = 1; next }
             section && /^```/ { if (inside) exit; inside = 1; next }
             inside && NF && $1 !~ /^#/ { print }' "$table")
if [ -z "$rules" ]; then
  echo "check_layers: no allowed arrows in $table" >&2
  exit 1
fi

faults=$(cd "$root" && { echo "$rules"; echo "--"; git ls-files '*.cpp' '*.h' '*.S' '*.mm'; } | awk '
  function fault(text) { print text; bad = 1 }
  # The component a file belongs to: the longest folder that holds it.
  function owner(path,   best, n) {
    best = ""
    for (n in folder) if (index(path, folder[n] "/") == 1 &&
                          (best == "" || length(folder[n]) > length(folder[best]))) best = n
    return best
  }
  function reaches(from, to, seen,   list, count, k) {
    if (from == to) return 1
    if (from in seen) return 0
    seen[from] = 1
    count = split(allowed[from], list, " ")
    for (k = 1; k <= count; k++) if (reaches(list[k], to, seen)) return 1
    return 0
  }
  !listing && $0 == "--" { listing = 1; next }
  !listing {
    split($0, halves, ":")
    split(halves[1], head, " ")
    folder[head[1]] = head[2]
    allowed[head[1]] = halves[2]
    next
  }
  { files[$0] = 1 }
  END {
    for (n in allowed) {
      count = split(allowed[n], list, " ")
      for (k = 1; k <= count; k++) {
        if (!(list[k] in folder)) fault("docs/architecture.md: " n " may include " list[k] ", which is no component")
        else { delete seen; if (reaches(list[k], n, seen)) fault("docs/architecture.md: " n " and " list[k] " reach each other (a cycle)") }
      }
    }
    for (path in files) {
      n = owner(path)
      if (n == "" || path ~ /^tests\//) continue
      lineNo = 0
      while ((getline text < path) > 0) {
        lineNo++
        if (text !~ /^[ \t]*#[ \t]*include[ \t]*"tessel\/[a-z0-9_]+\//) continue
        sub(/^[^"]*"tessel\//, "", text); sub(/\/.*/, "", text)
        if (text == n) continue
        if (!(text in folder)) { fault(path ":" lineNo ": includes tessel/" text "/, which is no component"); continue }
        if ((" " allowed[n] " ") !~ (" " text " ")) fault(path ":" lineNo ": " n " may not include tessel/" text "/ (it may include:" allowed[n] ")")
      }
      close(path)
    }
    # A header under a component'"'"'s include folder carries its own name as prefix.
    for (path in files) {
      if (!match(path, /\/include\/tessel\/[a-z0-9_]+\//)) continue
      n = owner(path)
      prefix = substr(path, RSTART + 16, RLENGTH - 17)
      if (n != "" && prefix != n) fault(path ": the prefix tessel/" prefix "/ in the folder of " n)
    }
    exit bad
  }')
status=$?
if [ -n "$faults" ]; then
  echo "$faults" | sort
  echo "check_layers: an arrow points the wrong way (see docs/architecture.md, \"Allowed arrows\")" >&2
  exit 1
fi
exit $status

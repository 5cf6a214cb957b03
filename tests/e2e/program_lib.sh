# Sourced first, with the test's own arguments, by the end-to-end tests that run Tessel.exe under
# Wine against tessel-catalogue: DRIVER PROGRAM CATALOGUE OUTDIR. The caller sets HERE (its
# folder); this sets the four and sources the driver's helpers (TITLE, DESKTOP) and the
# catalogue's.
DRIVER="$1"
PROGRAM="$2"
CATALOGUE="$3"
OUTDIR="$4"

source "$HERE/../ui/driver_lib.sh"
source "$HERE/catalogue_lib.sh"

# row_menu ROW COMMAND...: right-clicks list row ROW, then runs the driver's menu COMMAND (menu,
# or menu-select TEXT). Under Wine a right click once brought up no menu in a whole run (not
# seen again in 65 rounds of the same steps): when none appears in 5 s, the driver's account of
# the program's threads is printed and the row is right-clicked once more, as a user would. A
# second click without a menu fails the check.
row_menu() {
  local row="$1"
  shift
  expect rclick --title "$TITLE" --class SysListView32 --row "$row" --
  drive "$@" --timeout-ms 5000
  if [ "$RC" = 2 ]; then
    echo "note: no menu over row $row, right-clicking again: $(cat "$OUTDIR/driver.err")"
    expect rclick --title "$TITLE" --class SysListView32 --row "$row" --
    drive "$@"
  fi
  [ "$RC" = 0 ] || fail "$* over row $row: exit code $RC: $(cat "$OUTDIR/driver.err")"
}

# read_tags: from the dump in $OUT, TAGS (the visible labels 20 high from top 48 on, the tags),
# TAGS_BOTTOM (where their last row ends, 0 without tags) and LIST_TOP (the list's top).
read_tags() {
  TAGS=0
  TAGS_BOTTOM=0
  local line top height
  while read -r line; do
    read -r top height < <(sed -nE 's/.* rect=-?[0-9]+,(-?[0-9]+),[0-9]+,([0-9]+) .*/\1 \2/p' <<<"$line")
    [ "$height" = 20 ] && [ "$top" -ge 48 ] || continue
    TAGS=$((TAGS + 1))
    [ $((top + height)) -gt "$TAGS_BOTTOM" ] && TAGS_BOTTOM=$((top + height))
  done < <(grep -E '^control hwnd=[^ ]+ class=Static .*visible=1 ' <<<"$OUT")
  LIST_TOP=$(sed -nE 's/^control .* class=SysListView32 .* rect=-?[0-9]+,(-?[0-9]+),.*/\1/p' <<<"$OUT")
}

# tags_laid_out: in the dump in $OUT, tags are shown and the list's top lies 10 below their last
# row.
tags_laid_out() {
  read_tags
  [ "$TAGS_BOTTOM" -gt 0 ] && [ "$LIST_TOP" = $((TAGS_BOTTOM + 10)) ]
}

# wait_for_tags: the collections arrive after the window shows, on a slow machine well after:
# the window is dumped again until its tags are laid out, or the wait ends (the checks that
# follow then fail). The last dump is in $OUT.
wait_for_tags() {
  local _
  for _ in $(polls 100); do
    tags_laid_out && return 0
    sleep 0.1
    drive dump --title "$TITLE"
  done
}

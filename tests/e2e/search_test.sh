#!/usr/bin/env bash
# search_test.sh DRIVER PROGRAM CATALOGUE OUTDIR: the program with its real handlers, against
# tessel-catalogue serving the demo library on 127.0.0.1, driven from outside as a user would:
# the collection tags at start, a search by the button and by Enter, a tag pressed, a keyword the
# catalogue refuses. The rows must equal what the catalogue holds for each listing. Screenshots
# go to OUTDIR.
# PROGRAM is copied with the runtime library beside it into OUTDIR/program, whose bc.ini names
# the catalogue's address. Needs DISPLAY and the Wine environment of ./tessel test.
set -uo pipefail

HERE="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"

source "$HERE/program_lib.sh" "$@"
start_catalogue
copy_program

start_program "$APP/$(basename "$PROGRAM")"
wait_for_tags

# At start: one visible tag per collection, rows from top 48, the list below the last row.
mapfile -t COLLECTIONS < <(node "$HERE/catalogue_rows.mjs" "$BASE" collections)
[ "${#COLLECTIONS[@]}" -ge 2 ] || fail "the catalogue lists ${#COLLECTIONS[@]} collections"
LAST_BOTTOM=0
for c in "${COLLECTIONS[@]}"; do
  name=${c%%$'\t'*}
  line=$(grep -F "text=\"$name\"" <<<"$OUT" | grep -E '^control hwnd=[^ ]+ class=Static .*visible=1 ')
  [ -n "$line" ] || { fail "no visible tag \"$name\""; continue; }
  read -r left top width height < <(sed -nE 's/.* rect=(-?[0-9]+),(-?[0-9]+),([0-9]+),([0-9]+) .*/\1 \2 \3 \4/p' <<<"$line")
  bytes=$(printf '%s' "$name" | iconv -f UTF-8 -t GBK | wc -c)
  [ "$width" = $((bytes * 5 + 16)) ] || fail "tag \"$name\" is $width wide, wanted $((bytes * 5 + 16))"
  [ "$height" = 20 ] && [ $(((top - 48) % 20)) = 0 ] && [ "$top" -ge 48 ] || fail "tag \"$name\" at top $top height $height"
  [ $((top + height)) -gt "$LAST_BOTTOM" ] && LAST_BOTTOM=$((top + height))
done
has_line() { grep -Eq -- "$1" <<<"$OUT" || fail "no line matching [$1]"; }
# The list lies between the last row of tags and the status bar, inside the 803-px client area.
BAR_TOP=$(sed -nE 's/^control .* class=msctls_statusbar32 .* rect=-?[0-9]+,(-?[0-9]+),.*/\1/p' <<<"$OUT")
has_line "^control hwnd=[^ ]+ class=SysListView32 id=[0-9]+ rect=5,$((LAST_BOTTOM + 10)),793,$((BAR_TOP - LAST_BOTTOM - 10)) "
echo "$OUT" >"$OUTDIR/start.dump"
rm -f "$OUTDIR/search_start.png"
"$HERE/../ui/screenshot.sh" "$OUTDIR/search_start.png" || fail "screenshot at start"

# rows_equal EXPECTED: the list's rows in the last dump equal EXPECTED's lines.
rows_equal() {
  local got
  got=$(grep -E '^row index=' <<<"$OUT")
  if [ "$got" != "$1" ]; then
    fail "rows differ from the catalogue's:"$'\n'"$(diff <(echo "$1") <(echo "$got") | head -20)"
  fi
}

# 中 and 搜索: 60 rows, exactly what the catalogue answers for the three pages.
EXPECTED=$(node "$HERE/catalogue_rows.mjs" "$BASE" "/tessel/song/search/?q=%E4%B8%AD&type=video&count=20&offset=")
[ "$(wc -l <<<"$EXPECTED")" = 60 ] || fail "the catalogue has $(wc -l <<<"$EXPECTED") rows for 中"
expect set-text --title "$TITLE" --class Edit 中 --
expect click --title "$TITLE" --class Button --text 搜索 --
expect wait-text --title "$TITLE" --class msctls_statusbar32 --pane 0 "状态：搜索完成" --
expect dump --title "$TITLE" --
grep -q '^rows count=60$' <<<"$OUT" || fail "搜索 did not give 60 rows"
rows_equal "$EXPECTED"
rm -f "$OUTDIR/search_filled.png"
"$HERE/../ui/screenshot.sh" "$OUTDIR/search_filled.png" || fail "screenshot of the filled list"

# A tag lists its collection (and empties the search box).
FIRST=${COLLECTIONS[0]}
TAG_NAME=${FIRST%%$'\t'*}
TAG_ID=${FIRST##*$'\t'}
TAG_ROWS=$(node "$HERE/catalogue_rows.mjs" "$BASE" "/tessel/music/collections/$TAG_ID/songs/?count=20&offset=")
TAG_FIRST_TITLE=$(head -1 <<<"$TAG_ROWS" | sed -E 's/^row index=0 cells="[^"]*","(([^"\\]|\\.)*)".*/\1/')
expect click --title "$TITLE" --class Static --text "$TAG_NAME" --
expect wait-text --title "$TITLE" --class SysListView32 --row 0 --column 1 "$TAG_FIRST_TITLE" --
expect get-text --title "$TITLE" --class Edit -- ""
expect dump --title "$TITLE" --
rows_equal "$TAG_ROWS"
rm -f "$OUTDIR/search_tag.png"
"$HERE/../ui/screenshot.sh" "$OUTDIR/search_tag.png" || fail "screenshot after the tag"

# 中 and Enter: the same 60 rows as the button gave.
expect set-text --title "$TITLE" --class Edit 中 --
expect key --title "$TITLE" --class Edit RETURN --
LAST_TITLE=$(tail -1 <<<"$EXPECTED" | sed -E 's/^row index=59 cells="[^"]*","(([^"\\]|\\.)*)".*/\1/')
expect wait-text --title "$TITLE" --class SysListView32 --row 59 --column 1 "$LAST_TITLE" --
expect dump --title "$TITLE" --
rows_equal "$EXPECTED"

# A keyword of 101 characters: the catalogue refuses every page with its error answer (400), so
# the list is emptied and the search says it failed.
expect set-text --title "$TITLE" --class Edit "$(printf 'a%.0s' $(seq 101))" --
expect click --title "$TITLE" --class Button --text 搜索 --
expect wait-text --title "$TITLE" --class msctls_statusbar32 --pane 0 "状态：搜索失败" --
expect dump --title "$TITLE" --
grep -q '^rows count=0$' <<<"$OUT" || fail "the refused search left rows in the list"

expect close --title "$TITLE" --wait-exit -- 'exit-code=0'
finish "search, tags and listing passed every check"

#!/usr/bin/env bash
# many_collections_test.sh DRIVER PROGRAM CATALOGUE OUTDIR: the program against a catalogue of
# 300 collections (a library made here: one demo song copied into 300 folders). The tags take
# only the rows that leave the song list room for ten songs; the list lies between the last row
# of tags and the status bar, inside the client area, and shows at least ten rows once a search
# fills it. Screenshot: OUTDIR/many_collections.png.
set -uo pipefail

HERE="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
COLLECTIONS=300

source "$HERE/program_lib.sh" "$@"

LIBRARY="$OUTDIR/library-$COLLECTIONS"
mkdir -p "$OUTDIR"
make_collections_library "$LIBRARY" "$COLLECTIONS"
start_catalogue "$LIBRARY"
copy_program
start_program "$APP/$(basename "$PROGRAM")"

# rect_of LINE: "left top width height" of a dump record.
rect_of() { sed -nE 's/.* rect=(-?[0-9]+),(-?[0-9]+),([0-9]+),([0-9]+) .*/\1 \2 \3 \4/p' <<<"$1"; }

# read_layout: the client area, the status bar, the list and the tags (read_tags) of the dump in
# $OUT.
read_layout() {
  read -r CLIENT_WIDTH CLIENT_HEIGHT < <(sed -nE 's/^window .* client=([0-9]+),([0-9]+).*/\1 \2/p' <<<"$OUT")
  read -r _ BAR_TOP _ _ < <(rect_of "$(grep -E '^control .* class=msctls_statusbar32 ' <<<"$OUT")")
  read -r LIST_LEFT LIST_TOP LIST_WIDTH LIST_HEIGHT < <(rect_of "$(grep -E '^control .* class=SysListView32 ' <<<"$OUT")")
  read_tags
}

wait_for_tags
read_layout
echo "client ${CLIENT_WIDTH}x$CLIENT_HEIGHT, status bar at $BAR_TOP, list $LIST_LEFT,$LIST_TOP,${LIST_WIDTH}x$LIST_HEIGHT"
echo "$TAGS tags, the last row ending at $TAGS_BOTTOM"
[ "$TAGS" -gt 0 ] && [ "$TAGS" -lt "$COLLECTIONS" ] || fail "$TAGS tags for $COLLECTIONS collections"
[ "$LIST_TOP" = $((TAGS_BOTTOM + 10)) ] || fail "the list's top is $LIST_TOP, wanted $((TAGS_BOTTOM + 10))"
[ $((LIST_TOP + LIST_HEIGHT)) -le "$BAR_TOP" ] || fail "the list ends at $((LIST_TOP + LIST_HEIGHT)), under the status bar at $BAR_TOP"
[ "$LIST_LEFT" -ge 0 ] && [ $((LIST_LEFT + LIST_WIDTH)) -le "$CLIENT_WIDTH" ] ||
  fail "the list spans $LIST_LEFT..$((LIST_LEFT + LIST_WIDTH)) of a client area $CLIENT_WIDTH wide"

# A search for the song every collection holds fills the list: at least ten rows are seen whole
# above the status bar.
mapfile -t LISTED < <(node "$HERE/catalogue_rows.mjs" "$BASE" collections)
FIRST_ID=${LISTED[0]##*$'\t'}
KEYWORD=$(node "$HERE/catalogue_rows.mjs" "$BASE" "/tessel/music/collections/$FIRST_ID/songs/?count=20&offset=" |
  head -1 | sed -E 's/^row index=0 cells="[^"]*","(([^"\\]|\\.)*)".*/\1/')
expect set-text --title "$TITLE" --class Edit "$KEYWORD" --
expect click --title "$TITLE" --class Button --text 搜索 --
expect wait-text --title "$TITLE" --class msctls_statusbar32 --pane 0 "状态：搜索完成" --
expect dump --title "$TITLE" --
PAGE_ROWS=$(sed -nE 's/^page rows=([0-9]+)$/\1/p' <<<"$OUT")
echo "the list shows $PAGE_ROWS rows whole"
[ "${PAGE_ROWS:-0}" -ge 10 ] || fail "the list shows ${PAGE_ROWS:-no} rows whole, wanted at least 10"
rm -f "$OUTDIR/many_collections.png"
"$HERE/../ui/screenshot.sh" "$OUTDIR/many_collections.png" || fail "screenshot"

expect close --title "$TITLE" --wait-exit -- 'exit-code=0'
finish "300 collections: $TAGS tags, the list and $PAGE_ROWS rows of songs above the status bar"

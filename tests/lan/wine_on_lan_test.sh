#!/usr/bin/env bash
# Tessel.exe under Wine on host B, whose bc.ini names no catalogue and where none serves
# locally: with no catalogue anywhere pane 0 says so at start; once host A shares its library
# (tessel-catalogue --share, announced through A's avahi-daemon) a new start shows A's tags,
# lists A's songs for a search and downloads one from A. Wine has no DNS-SD of its own: the
# program's one-shot multicast query finds A. Driven by tessel-ui-driver from inside host B.
# wine_on_lan_test.sh DRIVER PROGRAM CATALOGUE OUTDIR. Needs DISPLAY and the Wine environment of
# ./tessel test; exit 77 where it cannot run.
set -uo pipefail
HERE="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
E2E="$HERE/../e2e"
. "$HERE/lan_hosts.sh"
lan_require
command -v node >/dev/null || lan_skip "node is missing"
# The end-to-end helpers find theirs beside them.
HERE="$E2E" source "$E2E/program_lib.sh" "$@"

# The program starts inside host B; the driver may run anywhere, as it only meets B's wineserver
# (through its socket in /tmp).
wine() { lan_run B wine "$@"; }
trap 'cleanup; stop_catalogue; lan_down' EXIT

rm -rf "$OUTDIR"
mkdir -p "$OUTDIR"
"$CATALOGUE" --make-demo "$OUTDIR/library" >/dev/null || { echo "FAIL: no demo library"; exit 1; }
lan_up || exit 1
BASE="http://$LAN_A_ADDR:8765"

# Host B is a Windows machine of its own. Wine's sockets are made by its wineserver, and its
# interface list comes from its services: both must run inside B. So B has a prefix of its own,
# a copy of the stage's, whose wineserver and services start there (and go with lan_down).
cp -a "$WINEPREFIX" "$OUTDIR/prefix"
export WINEPREFIX="$OUTDIR/prefix"
lan_run B wineserver -p </dev/null >/dev/null 2>&1
lan_run B timeout $((120 * WAIT_SCALE)) wine cmd /c exit </dev/null >/dev/null 2>&1

# The program beside its runtime libraries; bc.ini keeps a save directory on drive C: and names
# no catalogue.
APP="$OUTDIR/program"
mkdir -p "$APP"
bin="$(dirname "$PROGRAM")"
cp "$PROGRAM" "$bin"/basalt.fnr "$bin"/facet.fnr "$bin"/ferry.fnr "$bin"/vestry.fnr "$APP"/
SAVE_NAME="tessel-lan-downloads-$$"
SAVE="$WINEPREFIX/drive_c/$SAVE_NAME"
mkdir -p "$SAVE"
printf '[保存目录]\r\n保存=C:\\%s\\\r\n' "$SAVE_NAME" | iconv -f UTF-8 -t GBK >"$APP/bc.ini"
SETTINGS=$(md5sum <"$APP/bc.ini")
trap 'cleanup; stop_catalogue; lan_down; rm -rf "$OUTDIR/prefix"' EXIT
EXE="$APP/$(basename "$PROGRAM")"
elapsed() { awk -v s="$1" -v e="$(date +%s.%N)" 'BEGIN { printf "%.2f", e - s }'; }

# No catalogue anywhere: pane 0 says so, the download pane what to do.
started=$(date +%s.%N)
start_program "$EXE"
expect wait-text --timeout-ms 20000 --title "$TITLE" --class msctls_statusbar32 --pane 0 "状态：未找到曲库" --
echo "start to 状态：未找到曲库 with no catalogue anywhere: $(elapsed "$started") s"
drive get-text --title "$TITLE" --class msctls_statusbar32 --pane 2
[[ "$OUT" == *tessel-catalogue*bc.ini* ]] || fail "no advice in pane 2: [$OUT]"
rm -f "$OUTDIR/wine_lan_none.png"
"$E2E/../ui/screenshot.sh" "$OUTDIR/wine_lan_none.png" || fail "screenshot with no catalogue"
expect close --title "$TITLE" --wait-exit -- 'exit-code=0'

# Host A shares its library.
lan_bg A "$CATALOGUE" --library "$OUTDIR/library" --db "$OUTDIR/catalogue.db" --share \
  >"$OUTDIR/catalogue.log" 2>&1
CATALOGUE_PID=$LAN_PID
lan_wait 30 lan_run B sh -c 'avahi-browse -rtp _tessel._tcp | grep -q "path=/tessel/"' ||
  { fail "host A's catalogue was not announced: $(cat "$OUTDIR/catalogue.log")"; finish ""; }

# Start to tags: every collection of A's, as a tag.
mapfile -t COLLECTIONS < <(lan_run B node "$E2E/catalogue_rows.mjs" "$BASE" collections)
[ "${#COLLECTIONS[@]}" -ge 2 ] || fail "host A's catalogue lists ${#COLLECTIONS[@]} collections"
started=$(date +%s.%N)
start_program "$EXE"
for c in "${COLLECTIONS[@]}"; do
  expect wait-text --timeout-ms 20000 --title "$TITLE" --class Static --text "${c%%$'\t'*}" "${c%%$'\t'*}" --
done
echo "start to tags, the catalogue on the other host and none local: $(elapsed "$started") s"
expect get-text --title "$TITLE" --class msctls_statusbar32 --pane 0 -- "状态："
rm -f "$OUTDIR/wine_lan_tags.png"
"$E2E/../ui/screenshot.sh" "$OUTDIR/wine_lan_tags.png" || fail "screenshot of A's tags"

# A search lists A's rows, whose addresses are on A.
EXPECTED=$(lan_run B node "$E2E/catalogue_rows.mjs" "$BASE" "/tessel/song/search/?q=%E4%B8%AD&type=video&count=20&offset=")
[ "$(wc -l <<<"$EXPECTED")" = 60 ] || fail "host A has $(wc -l <<<"$EXPECTED") rows for 中"
grep -q "$BASE/" <<<"$EXPECTED" || fail "host A's rows do not carry its address"
expect set-text --title "$TITLE" --class Edit 中 --
expect click --title "$TITLE" --class Button --text 搜索 --
expect wait-text --title "$TITLE" --class msctls_statusbar32 --pane 0 "状态：搜索完成" --
expect dump --title "$TITLE" --
[ "$(grep -E '^row index=' <<<"$OUT")" = "$EXPECTED" ] || fail "the rows differ from host A's"

# A download from A, byte for byte.
drive get-text --title "$TITLE" --class SysListView32 --row 0 --column 1; TITLE0=$OUT
drive get-text --title "$TITLE" --class SysListView32 --row 0 --column 2; SINGER0=$OUT
drive get-text --title "$TITLE" --class SysListView32 --row 0 --column 4; ADDRESS0=$OUT
expect select-row --title "$TITLE" 0 --
row_menu 0 menu-select 下载
expect wait-text --title "$TITLE" --class msctls_statusbar32 --pane 2 "$TITLE0 - $SINGER0  下载完成" --
lan_run B node -e 'fetch(process.argv[1]).then(r => r.arrayBuffer()).then(b => require("fs").writeFileSync(process.argv[2], Buffer.from(b)))' \
  "$ADDRESS0" "$OUTDIR/expected.mp3"
cmp -s "$SAVE/${TITLE0}_${SINGER0}.mp3" "$OUTDIR/expected.mp3" || fail "the song downloaded from host A differs"
rm -f "$OUTDIR/wine_lan_search.png"
"$E2E/../ui/screenshot.sh" "$OUTDIR/wine_lan_search.png" || fail "screenshot after the download"
expect close --title "$TITLE" --wait-exit -- 'exit-code=0'
[ "$(md5sum <"$APP/bc.ini")" = "$SETTINGS" ] || fail "bc.ini was written"
finish "Tessel.exe on host B found host A's catalogue: tags, search and download"

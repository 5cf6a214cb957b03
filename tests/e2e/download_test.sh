#!/usr/bin/env bash
# download_test.sh DRIVER PROGRAM CATALOGUE OUTDIR: downloads with the real handlers and the
# transfer library, against tessel-catalogue on 127.0.0.1, driven from outside: 下载 before a save
# directory is set, the directory chosen in the folder dialog and kept in bc.ini across a
# restart, a song downloaded byte for byte with the speed and the completion text shown, and a
# large transfer whose catalogue stops half-way. A screenshot goes to OUTDIR.
# Needs DISPLAY and the Wine environment of ./tessel test.
set -uo pipefail

HERE="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"

source "$HERE/program_lib.sh" "$@"
SAVE=""
trap 'cleanup; stop_catalogue; [ -n "$SAVE" ] && rm -rf "$SAVE"' EXIT

# The demo library and one large song, so that the catalogue can be stopped while sending it.
mkdir -p "$OUTDIR"
LIBRARY="$OUTDIR/library"
make_large_song "$LIBRARY"
start_catalogue "$LIBRARY"
copy_program

# The save directory lies on the prefix's drive C:, where the folder dialog reaches it.
SAVE_NAME="tessel-downloads-$$"
SAVE="$WINEPREFIX/drive_c/$SAVE_NAME"
mkdir -p "$SAVE"
SAVE_WINDOWS="C:\\$SAVE_NAME"

# search WORD: lists WORD's songs.
search() {
  expect set-text --title "$TITLE" --class Edit "$1" --
  expect click --title "$TITLE" --class Button --text 搜索 --
  expect wait-text --title "$TITLE" --class msctls_statusbar32 --pane 0 "状态：搜索完成" --
}
# download ROW: 下载 from the list's menu for that row.
download() {
  expect select-row --title "$TITLE" "$1" --
  row_menu "$1" menu-select 下载
}
cell() { drive get-text --title "$TITLE" --class SysListView32 --row "$1" --column "$2"; echo "$OUT"; }

start_program "$APP/$(basename "$PROGRAM")"
search 中

# 下载 with a settings file that holds no save directory.
download 0
expect message-box -- 
grep -q 'text="请先设置保存目录"' <<<"$OUT" || fail "下载 without a directory: $OUT"
expect press OK --

# 设置目录: the folder dialog, the label and bc.ini.
expect click --title "$TITLE" --class Static --text 设置目录 --
expect choose-folder "$SAVE_WINDOWS" --
# The dump quotes a backslash as two.
SHOWN="text=\"${SAVE_WINDOWS//\\/\\\\}\\\\\""
shown_directory() {
  for _ in $(polls 50); do
    drive dump --title "$TITLE"
    grep -Fq -- "$SHOWN" <<<"$OUT" && return 0
    sleep 0.1
  done
  return 1
}
shown_directory || fail "the label does not show $SAVE_WINDOWS\\"
SETTINGS=$(iconv -f GBK -t UTF-8 <"$APP/bc.ini" | tr -d '\r')
grep -Fxq '[保存目录]' <<<"$SETTINGS" || fail "bc.ini has no [保存目录]: $SETTINGS"
grep -Fxq "保存=$SAVE_WINDOWS\\" <<<"$SETTINGS" || fail "bc.ini does not keep the directory: $SETTINGS"

# A song, byte for byte.
TITLE0=$(cell 0 1)
SINGER0=$(cell 0 2)
ADDRESS0=$(cell 0 4)
download 0
expect wait-text --title "$TITLE" --class msctls_statusbar32 --pane 2 "$TITLE0 - $SINGER0  下载完成" --
FILE="$SAVE/${TITLE0}_${SINGER0}.mp3"
[ -f "$FILE" ] || fail "no file $FILE"
node -e 'fetch(process.argv[1]).then(r => r.arrayBuffer()).then(b => require("fs").writeFileSync(process.argv[2], Buffer.from(b)))' \
  "$ADDRESS0" "$OUTDIR/expected.mp3"
cmp -s "$FILE" "$OUTDIR/expected.mp3" || fail "the downloaded file differs from the catalogue's"
SPEED=$(drive get-text --title "$TITLE" --class msctls_statusbar32 --pane 1; echo "$OUT")
[[ "$SPEED" =~ ^下载速度：[0-9]+(\.[0-9]+)?\ MB$ ]] || fail "pane 1 shows [$SPEED]"
rm -f "$OUTDIR/download_done.png"
"$HERE/../ui/screenshot.sh" "$OUTDIR/download_done.png" || fail "screenshot after the download"

# The directory is shown again after a restart.
expect close --title "$TITLE" --wait-exit -- 'exit-code=0'
start_program "$APP/$(basename "$PROGRAM")"
shown_directory || fail "the directory is not shown after a restart"

# A large song whose catalogue stops half-way: 下载失败, and no file under its name.
search 巨大
LARGE_TITLE=$(cell 0 1)
LARGE_SINGER=$(cell 0 2)
download 0
for _ in $(polls 400); do
  [ -n "$(find "$SAVE" -type f -size +1M 2>/dev/null)" ] && break
  sleep 0.02
done
kill -9 "$CATALOGUE_PID" 2>/dev/null
stop_catalogue
expect wait-text --timeout-ms 60000 --title "$TITLE" --class msctls_statusbar32 --pane 2 "$LARGE_TITLE - $LARGE_SINGER  下载失败" --
[ ! -e "$SAVE/${LARGE_TITLE}_${LARGE_SINGER}.mp3" ] || fail "a failed download left its file"

expect close --title "$TITLE" --wait-exit -- 'exit-code=0'
leftover=$(find "$SAVE" -type f ! -name "${TITLE0}_${SINGER0}.mp3")
[ -z "$leftover" ] || fail "left behind: $leftover"
finish "downloads and the save directory passed every check"

#!/usr/bin/env bash
# ui_driver_test.sh DRIVER FIXTURE OUTDIR: starts the fixture window under Wine on its own
# desktop, drives it with every driver command and checks what each one prints or does.
# Needs DISPLAY and the Wine environment that ./tessel test sets up; skipped (77) without DISPLAY.
set -uo pipefail

DRIVER="$1"
FIXTURE="$2"
OUTDIR="$3"
HERE="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"

source "$HERE/driver_lib.sh"

mkdir -p "$OUTDIR"
wine explorer "/desktop=$DESKTOP,1024x768" "$FIXTURE" </dev/null >/dev/null 2>&1 &
PROGRAM_PID=$!

expect wait-window --title "$TITLE" -- 
grep -Eq '^0x[0-9A-F]{8}$' <<<"$OUT" || fail "wait-window printed [$OUT]"
HWND="$OUT"
expect windows --hwnd "$HWND" -- 
grep -Eq "^top hwnd=$HWND pid=[0-9]+ class=\"TesselUiFixture\" visible=1 rect=50,50,811,498 title=\"$TITLE\"\$" \
  <<<"$OUT" || fail "windows printed [$OUT]"
PID=$(sed -E 's/.* pid=([0-9]+) .*/\1/' <<<"$OUT")
expect get-text --pid "$PID" --window-class TesselUiFixture --class Button -- 搜索

# The window as built: geometry, controls, columns, rows and panes.
expect dump --title "$TITLE" -- \
  'column index=0 width=50 align=left text="序号"' \
  'column index=1 width=200 align=left text="音乐标题"' \
  'column index=2 width=150 align=left text="歌手"' \
  'column index=3 width=50 align=center text="时长"' \
  'column index=4 width=300 align=left text="下载地址"' \
  'rows count=2' \
  'row index=0 cells="1","晴天","周杰伦","04:29","http://127.0.0.1:8080/song/1.mp3"' \
  'panes count=4' \
  'pane index=0 width=130 right=130 text="状态："' \
  'pane index=1 width=170 right=300 text="下载速度："' \
  'pane index=2 width=300 right=600 text=""' \
  'pane index=3 width=200 right=800 text="By：Quenby"'
grep -Eq "^window hwnd=0x[0-9A-F]{8} pid=[0-9]+ title=\"$TITLE\" rect=50,50,811,498 client=[0-9]+,[0-9]+\$" \
  <<<"$OUT" || fail "dump: window record in:"$'\n'"$OUT"
grep -Eq '^control hwnd=0x[0-9A-F]{8} class=Edit id=1 rect=8,9,507,32 visible=1 enabled=1 text=""$' \
  <<<"$OUT" || fail "dump: edit record"
grep -Eq '^control .* class=Button id=2 rect=523,9,88,32 visible=1 enabled=1 text="搜索"$' \
  <<<"$OUT" || fail "dump: button record"
grep -Eq '^control .* class=Static id=3 rect=616,16,48,24 visible=1 enabled=1 text="设置目录"$' \
  <<<"$OUT" || fail "dump: label record"
grep -Eq '^control .* class=SysListView32 id=4 rect=5,72,803,360 visible=1' <<<"$OUT" ||
  fail "dump: list record"

# Typing and searching: by the button, then by Enter in the edit box.
expect set-text --title "$TITLE" --class Edit "周杰伦 \"晴天\"" --
expect click --title "$TITLE" --class Button --text 搜索 --
expect get-text --title "$TITLE" --class msctls_statusbar32 --pane 0 -- '周杰伦 "晴天"'
expect get-text --title "$TITLE" --class Edit -- '周杰伦 "晴天"'
# A handler that opens a message box: the click returns while the box is up.
expect set-text --title "$TITLE" --class Edit box --
expect click --title "$TITLE" --class Button --text 搜索 --timeout-ms 20000 --
grep -q "opened a dialog box" "$OUTDIR/driver.err" || fail "click did not see the message box"
expect message-box --title 搜索 -- 'button id=1 text="OK"'
grep -Eq '^dialog hwnd=0x[0-9A-F]{8} title="搜索" text="没有找到"$' <<<"$OUT" ||
  fail "message-box record in:"$'\n'"$OUT"
expect press OK --
expect wait-text --title "$TITLE" --class msctls_statusbar32 --pane 0 "box answered" --
expect set-text --title "$TITLE" --class Edit --nth 0 "by enter" --
expect key --title "$TITLE" --class Edit RETURN --
expect wait-text --title "$TITLE" --class msctls_statusbar32 --pane 0 "by enter" --

expect get-text --title "$TITLE" --class SysListView32 --row 1 --column 1 -- Yesterday
expect wait-text --title "$TITLE" --class SysListView32 --row 0 "1" --

# The list menu: a right click on row 1 opens it; choosing items.
expect select-row --title "$TITLE" 1 --
expect rclick --title "$TITLE" --class SysListView32 --row 1 --
expect menu -- 'item index=0 id=101 separator=0 enabled=1 checked=0 text="播放"' \
  'item index=1 id=102 separator=0 enabled=1 checked=0 text="下载"' \
  'item index=2 id=103 separator=0 enabled=1 checked=0 text="复制下载地址"'
grep -Eq '^menu hwnd=0x[0-9A-F]{8} count=3$' <<<"$OUT" || fail "menu record in:"$'\n'"$OUT"
expect menu-select 下载 --
expect wait-text --title "$TITLE" --class msctls_statusbar32 --pane 2 下载 --
expect rclick --title "$TITLE" --class SysListView32 --row 1 --
expect menu-select 复制下载地址 --
expect wait-text --title "$TITLE" --class msctls_statusbar32 --pane 2 复制下载地址 --
expect clipboard -- 'http://127.0.0.1:8080/song/2.mp3'
# An item the menu does not have: refused, and the menu is closed again.
expect rclick --title "$TITLE" --class SysListView32 --row 0 --
expect_code 3 menu-select 删除
expect_code 2 menu --timeout-ms 300

expect dblclick --title "$TITLE" --class SysListView32 --row 0 --
expect wait-text --title "$TITLE" --class msctls_statusbar32 --pane 2 "双击 0" --

# A message box from a click on the label; its picture is kept for people to look at.
expect click --title "$TITLE" --class Static --text 设置目录 --
expect message-box -- 'button id=1 text="OK"' 'button id=2 text="Cancel"'
grep -Eq '^dialog hwnd=0x[0-9A-F]{8} title="提示" text="选择保存目录"$' <<<"$OUT" ||
  fail "message-box record in:"$'\n'"$OUT"
rm -f "$OUTDIR/ui_fixture.png"
"$HERE/screenshot.sh" "$OUTDIR/ui_fixture.png" || fail "screenshot"
[ "$(head -c 4 "$OUTDIR/ui_fixture.png" 2>/dev/null | tail -c 3)" = PNG ] || fail "no PNG written"
expect press OK --
expect wait-text --title "$TITLE" --class msctls_statusbar32 --pane 1 OK --

# Failures are reported with their own exit codes, in bounded time.
expect_code 1 no-such-command
expect_code 1 key --title "$TITLE" --class Edit NOT_A_KEY
expect_code 2 wait-window --title "no such window" --timeout-ms 300
expect_code 2 click --title "$TITLE" --class Button --text 不存在 --timeout-ms 300
expect_code 4 wait-text --title "$TITLE" --class msctls_statusbar32 --pane 0 never --timeout-ms 300

# Closing ends the program with exit code 0.
expect close --title "$TITLE" --wait-exit -- 'exit-code=0'
expect wait-gone --title "$TITLE" --

# The desktop's process ends with its last program.
for _ in $(polls 100); do kill -0 "$PROGRAM_PID" 2>/dev/null || break; sleep 0.1; done

finish "all driver checks passed"

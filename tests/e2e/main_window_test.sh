#!/usr/bin/env bash
# main_window_test.sh DRIVER STARTER OUTDIR: the program's image, started by the runtime library
# under Wine on a desktop of its own, seen and driven from outside as a user would: the main
# window's start state, its picture, the list's pop-up menu with a handler reached, and the end of
# the program when the window closes.
# Needs DISPLAY and the Wine environment that ./tessel test sets up; skipped (77) without DISPLAY.
set -uo pipefail

DRIVER="$1"
STARTER="$2"
OUTDIR="$3"
HERE="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"

source "$HERE/../ui/driver_lib.sh"

# has PATTERN: an extended regular expression that some line of the last output must match.
has() {
  grep -Eq -- "$1" <<<"$OUT" || fail "no line matching [$1] in:"$'\n'"$OUT"
}

mkdir -p "$OUTDIR"
LOG="$OUTDIR/handlers.log"
rm -f "$LOG"
# The stand-in handlers write their calls to this file (a Windows path for the program).
TESSEL_STARTER_LOG="$(winepath -w "$LOG" 2>/dev/null)"
export TESSEL_STARTER_LOG
unset TESSEL_STARTER_MODE TESSEL_STARTER_MENU_ITEM
start_program "$STARTER"
has "^window hwnd=0x[0-9A-F]+ pid=[0-9]+ title=\"$TITLE\" rect=50,50,811,498 "
has '^control hwnd=[^ ]+ class=Edit id=[0-9]+ rect=8,9,507,32 visible=1 enabled=1 text=""$'
has '^control hwnd=[^ ]+ class=Button id=[0-9]+ rect=523,9,88,32 visible=1 enabled=1 text="搜索"$'
has '^control hwnd=[^ ]+ class=Static id=[0-9]+ rect=616,16,48,24 visible=1 enabled=1 text="设置目录"$'
has '^control hwnd=[^ ]+ class=Static id=[0-9]+ rect=704,16,24,16 visible=0 .*text="标签"$'
has '^control hwnd=[^ ]+ class=SysListView32 id=[0-9]+ rect=5,72,803,360 visible=1 '
has '^columns count=5$'
has '^column index=0 width=50 align=left text="序号"$'
has '^column index=1 width=200 align=left text="音乐标题"$'
has '^column index=2 width=150 align=left text="歌手"$'
has '^column index=3 width=50 align=(center|right) text="时长"$'
has '^column index=4 width=300 align=left text="下载地址"$'
has '^rows count=0$'
has '^panes count=4$'
has '^pane index=0 width=130 .*text="状态："$'
has '^pane index=1 width=170 .*text="下载速度："$'
has '^pane index=2 width=300 .*text=""$'
has '^pane index=3 .*text="By：Quenby"$'
echo "$OUT" >"$OUTDIR/main_window.dump"

# Its picture, with a title bar and Chinese rendered, for people to look at.
rm -f "$OUTDIR/main_window.png"
"$HERE/../ui/screenshot.sh" "$OUTDIR/main_window.png" || fail "screenshot"
[ "$(head -c 4 "$OUTDIR/main_window.png" 2>/dev/null | tail -c 3)" = PNG ] || fail "no PNG written"

# A right click on the list pops up 菜单; choosing 下载 reaches its handler.
expect rclick --title "$TITLE" --class SysListView32 --
expect menu -- 
has '^menu hwnd=0x[0-9A-F]+ count=3$'
has '^item index=0 .*text="播放"$'
has '^item index=1 .*text="下载"$'
has '^item index=2 .*text="复制下载地址"$'
expect menu-select 下载 --
for _ in $(polls 50); do grep -q '^OnDownload' "$LOG" 2>/dev/null && break; sleep 0.1; done
grep -q '^OnListRightClick' "$LOG" || fail "the right click did not reach its handler"
grep -q '^OnDownload' "$LOG" || fail "下载 did not reach its handler"

# Closing the main window ends the program with exit code 0, the clean-up having run once.
expect close --title "$TITLE" --wait-exit -- 'exit-code=0'
[ "$(grep -c '^cleanup' "$LOG")" = 1 ] || fail "clean-up ran $(grep -c '^cleanup' "$LOG") times"
grep -q '^OnMainWindowDestroy' "$LOG" || fail "the destroy handler was not reached"

finish "the main window passed every check"

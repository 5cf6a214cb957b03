#!/usr/bin/env bash
# playback_test.sh DRIVER PROGRAM CATALOGUE OUTDIR: playback and the list menu of the program with
# its real handlers, against tessel-catalogue serving the demo library on 127.0.0.1, driven from
# outside: the menu over a row, copying the address, playing by 播放 and by double-click in the
# player window, switching songs, the close box, the end with the main window, and no copy of a
# song left in the temporary folder. The runtime library writes what it asks of the media
# player and the states the player reports into OUTDIR/player.log (TESSEL_PLAYER_LOG).
# Screenshots go to OUTDIR. Needs DISPLAY and the Wine environment of ./tessel test.
set -uo pipefail

HERE="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
# The player reports the playing state only when it has a sound device.
[ -n "${ALSA_CONFIG_PATH:-}" ] || echo "note: ALSA_CONFIG_PATH is not set (./tessel test sets a null device)"

source "$HERE/program_lib.sh" "$@"
start_catalogue
copy_program

# The program's temporary folder. A copy left by a run that was killed (its process is gone) is
# swept at start; other files there are not the program's to touch.
TEMP_DIR=$(winepath -u "$(wine cmd /c echo %TEMP% </dev/null 2>/dev/null | tr -d '\r')" 2>/dev/null)
[ -d "$TEMP_DIR" ] || { echo "no temporary folder: [$TEMP_DIR]"; exit 1; }
ABANDONED="$TEMP_DIR/tessel-play-999996-1-1.mp3"
NOT_OURS="$TEMP_DIR/tessel-play-notes-$$.txt"
echo left >"$ABANDONED"
echo kept >"$NOT_OURS"

LOG="$OUTDIR/player.log"
rm -f "$LOG"
TESSEL_PLAYER_LOG="Z:$LOG"
export TESSEL_PLAYER_LOG
start_program "$APP/$(basename "$PROGRAM")"
[ -e "$ABANDONED" ] && fail "the copy of a killed run was not swept at start"
[ -e "$NOT_OURS" ] || fail "a file that only starts like a copy was removed"
rm -f "$NOT_OURS"

expect set-text --title "$TITLE" --class Edit 中 --
expect click --title "$TITLE" --class Button --text 搜索 --
expect wait-text --title "$TITLE" --class msctls_statusbar32 --pane 0 "状态：搜索完成" --
address() {
  drive get-text --title "$TITLE" --class SysListView32 --row "$1" --column 4
  [ "$RC" = 0 ] && [ -n "$OUT" ] || fail "no address in row $1"
  echo "$OUT"
}
ADDRESS0=$(address 0)
ADDRESS1=$(address 1)
ADDRESS2=$(address 2)

# The player window, found by the runtime's window class and its empty title:
# PLAYER_LINE is its "top" record, or empty.
find_player() {
  drive windows --pid "$PID" --window-class TesselWindow --title ""
  PLAYER_LINE=$(grep -E '^top ' <<<"$OUT" | head -1)
}
# wait_player VISIBLE: waits until the player window exists with that visibility.
wait_player() {
  for _ in $(polls 100); do
    find_player
    grep -q " visible=$1 " <<<"$PLAYER_LINE" && return 0
    sleep 0.1
  done
  fail "the player window is not there with visible=$1: [$PLAYER_LINE]"
}
# wait_log PATTERN AFTER: waits until a line of the player's log after line AFTER matches.
wait_log() {
  for _ in $(polls 300); do
    tail -n +"$(($2 + 1))" "$LOG" 2>/dev/null | grep -Eq -- "$1" && return 0
    sleep 0.1
  done
  fail "the player log has no [$1] after line $2:"$'\n'"$(cat "$LOG" 2>/dev/null)"
}
log_lines() { wc -l 2>/dev/null <"$LOG" || echo 0; }
# play_checked ADDRESS MARK: the log shows ADDRESS given to the control after line MARK, then
# the control reaching the playing state (3).
play_checked() {
  wait_log "^url $1\$" "$2"
  local at
  at=$(grep -nFx "url $1" "$LOG" | tail -1 | cut -d: -f1)
  wait_log '^play-state 3$' "${at:-0}"
}

# A right click on a row pops up 播放, 下载, 复制下载地址, in that order.
expect select-row --title "$TITLE" 0 --
row_menu 0 menu
grep -Eq '^menu hwnd=0x[0-9A-F]+ count=3$' <<<"$OUT" || fail "the menu does not hold 3 items: $OUT"
ITEMS=$(sed -nE 's/^item index=[0-9]+ .*text="(.*)"$/\1/p' <<<"$OUT" | tr '\n' ' ')
[ "$ITEMS" = "播放 下载 复制下载地址 " ] || fail "menu items: [$ITEMS]"
# 复制下载地址 puts exactly column 4 on the clipboard.
expect menu-select 复制下载地址 --
for _ in $(polls 50); do
  drive clipboard
  [ "$RC" = 0 ] && [ "$OUT" = "$ADDRESS0" ] && break
  sleep 0.1
done
[ "$OUT" = "$ADDRESS0" ] || fail "the clipboard holds [$OUT], not [$ADDRESS0]"

# 播放: the player window opens (380 × 71, the control 376 × 45) and plays row 0.
find_player
[ -z "$PLAYER_LINE" ] || fail "the player window exists before the first play: $PLAYER_LINE"
MARK=$(log_lines)
row_menu 0 menu-select 播放
wait_player 1
grep -Eq ' rect=-?[0-9]+,-?[0-9]+,380,71 ' <<<"$PLAYER_LINE" || fail "player window: $PLAYER_LINE"
PLAYER=$(sed -nE 's/^top hwnd=(0x[0-9A-F]+) .*/\1/p' <<<"$PLAYER_LINE")
expect dump --hwnd "$PLAYER" --
grep -Eq '^control hwnd=[^ ]+ class=TesselMediaPlayerHost id=[0-9]+ rect=0,0,376,45 visible=1 ' <<<"$OUT" ||
  fail "no control of 376 × 45 at 0,0 in the player window:"$'\n'"$OUT"
play_checked "$ADDRESS0" "$MARK"
copies() { find "$TEMP_DIR" -maxdepth 1 -name "tessel-play-$PID-*" 2>/dev/null; }
# Wine's control cannot open http addresses: it plays a copy in the temporary folder.
[ -n "$(copies)" ] || fail "no copy of the song in $TEMP_DIR while it plays"
rm -f "$OUTDIR/playback_player.png"
"$HERE/../ui/screenshot.sh" "$OUTDIR/playback_player.png" || fail "screenshot with the player window"

# A second song while the first plays: the same window switches to it.
MARK=$(log_lines)
expect dblclick --title "$TITLE" --class SysListView32 --row 1 --
play_checked "$ADDRESS1" "$MARK"
find_player
grep -q "^top hwnd=$PLAYER " <<<"$PLAYER_LINE" || fail "another player window: $PLAYER_LINE"

# The close box hides the window and stops playback; the window stays (hidden). The demo songs
# last a few seconds: one still playing must report the stopped state (1) after the stop.
last_play_state() { grep -E '^play-state ' "$LOG" | tail -1 | cut -d' ' -f2; }
close_player() {
  local mark before
  mark=$(log_lines)
  before=$(last_play_state)
  expect close --hwnd "$PLAYER" --
  wait_player 0
  wait_log '^stop$' "$mark"
  if [ "$before" = 3 ]; then wait_log '^play-state 1$' "$mark"; fi
}
close_player

# The next 播放 shows the same window again, playing the new row; so does a double-click after
# another close.
MARK=$(log_lines)
expect select-row --title "$TITLE" 2 --
row_menu 2 menu-select 播放
wait_player 1
grep -q "^top hwnd=$PLAYER " <<<"$PLAYER_LINE" || fail "the player window was not shown again: $PLAYER_LINE"
play_checked "$ADDRESS2" "$MARK"
close_player
MARK=$(log_lines)
expect dblclick --title "$TITLE" --class SysListView32 --row 0 --
wait_player 1
play_checked "$ADDRESS0" "$MARK"

# Closing the main window (the player window shown and playing) ends the program: exit code 0,
# no window left, no copy of a song in the temporary folder.
expect close --title "$TITLE" --wait-exit -- 'exit-code=0'
drive windows --pid "$PID" --timeout-ms 0
[ -z "$(grep -E '^top ' <<<"$OUT")" ] || fail "windows left behind: $OUT"
[ -z "$(copies)" ] || fail "copies left in the temporary folder: $(copies)"
PID=""
cp "$LOG" "$OUTDIR/player.last.log" 2>/dev/null
finish "playback and the list menu passed every check"

"""Drives the native tessel from another process, as a user and a screen reader would: AT-SPI
finds the controls by role and name and reads their texts, xdotool clicks and types, xclip reads
the clipboard. Run by native_test.sh inside its own D-Bus session and X display.

native_driver.py PROGRAM BASE OUTDIR: exits 0 when every scenario passed.
native_driver.py --bench PROGRAM BASE OUTDIR (native_test.sh ... --bench): prints the benchmark
figures (start to tags, idle memory and its growth during a large download, a 60-row search
against its three requests).
native_driver.py --collections PROGRAM BASE OUTDIR (native_test.sh ... --collections): against
300 collections, the tags that fit and the list between them and the status bar; a search the
catalogue refuses on every page.
native_driver.py --demo PROGRAM CONFIG_HOME SHOT: a search for 中 as a user makes it, and a
screenshot of the filled window (what ./tessel run does without a display).
native_driver.py --lan PROGRAM BASE OUTDIR (tests/lan): run on a host whose bc.ini names no
catalogue and where none serves locally: with no catalogue anywhere the program says so at start
and after a search; once the catalogue at BASE is shared on the local network a search finds it,
and a new start shows its tags, searches it and downloads from it."""
import json
import os
import subprocess

import pyatspi

import native_steps
from native_runs import bench, demo, lan, many_collections
from native_steps import *  # noqa: F401,F403 (the steps the scenarios are written in)


def main():
    write_settings()

    # The start state: geometry and texts of the main window.
    window = start_program()
    x, y, w, h = extents(window)
    if (w, h) != (811 - 4, 498 - 26):
        fail("main window client area %dx%d" % (w, h))
    edit = find(window, pyatspi.ROLE_TEXT, "编辑框1")
    button = find(window, pyatspi.ROLE_PUSH_BUTTON, "搜索")
    choose = find(window, pyatspi.ROLE_LABEL, "设置目录")
    if edit is None or button is None or choose is None:
        fail("the search box, the button or 设置目录 is missing")
    if extents(edit)[2:] != (507, 32) or extents(button)[2:] != (88, 32):
        fail("edit %s button %s" % (extents(edit), extents(button)))
    panes = [text_of(pane(window, i)) for i in range(4)]
    if panes != ["状态：", "下载速度：", "", "By：Quenby"]:
        fail("panes " + repr(panes))
    check_status_bar(window, panes)
    table = find(window, pyatspi.ROLE_TABLE, "超级列表框1").queryTable()
    headers = [table.getColumnDescription(c) for c in range(table.nColumns)]
    if headers != ["序号", "音乐标题", "歌手", "时长", "下载地址"]:
        fail("headers " + repr(headers))

    # The tags: one per collection.
    collections = json.loads(get("/tessel/music/collections/"))["data"]
    names = [c["name"] for c in collections]
    tags = wait("the tags", lambda: [find(window, pyatspi.ROLE_LABEL, n) for n in names]
                if all(find(window, pyatspi.ROLE_LABEL, n) for n in names) else None)
    shot("start")

    # A search by the button: exactly the catalogue's rows.
    edit.queryEditableText().setTextContents("中")
    press(button)
    wait("搜索完成", lambda: text_of(pane(window, 0)) == "状态：搜索完成")
    want = expected_rows("/tessel/song/search/?q=%E4%B8%AD&type=video&count=20&offset=")
    if len(want) != 60 or table_rows(window) != want:
        fail("search by button: %d rows, the catalogue has %d" % (len(table_rows(window)), len(want)))
    shot("search")

    # A tag lists its collection.
    click(tags[0], dx=3)
    tag_rows = expected_rows("/tessel/music/collections/%s/songs/?count=20&offset=" % collections[0]["id_str"])
    wait("the tag's rows", lambda: table_rows(window) == tag_rows)

    # A search by Enter.
    edit.queryEditableText().setTextContents("中")
    edit.queryComponent().grabFocus()
    subprocess.run(["xdotool", "key", "Return"], check=True)
    wait("the rows of a search by Enter", lambda: table_rows(window) == want)

    # 播放 (double click): the player window opens and the position advances.
    x, y, w, h = extents(table.getAccessibleAt(0, 1))
    subprocess.run(["xdotool", "mousemove", str(x + w // 2), str(y + h // 2), "click", "--repeat", "2", "1"],
                   check=True)
    player = wait("the player window", lambda: find_frame("播放窗口"))
    if extents(player)[2:] != (380 - 4, 71 - 26):
        fail("player window %s" % (extents(player),))
    slider = find(player, pyatspi.ROLE_SLIDER, "播放位置")
    first = wait("playback", lambda: slider.queryValue().currentValue or None, 10)
    wait("the position advancing", lambda: slider.queryValue().currentValue > first, 5)
    if "url " + want[0][4] not in lines(TRACE["player"]):
        fail("player log " + repr(lines(TRACE["player"])))
    shot("player")

    # The close box hides the player window and stops playback.
    close_window(window_of_size(380 - 4, 71 - 26))  # the player window has no title
    wait("the player window hidden", lambda: find_frame("播放窗口") is None)
    if "stop" not in lines(TRACE["player"]):
        fail("playback not stopped: " + repr(lines(TRACE["player"])))

    # 复制下载地址: the address on the clipboard.
    menu_item(window, 2, 3)
    clip = wait("the clipboard", lambda: subprocess.run(["xclip", "-o", "-selection", "clipboard"],
                                                      capture_output=True, text=True).stdout)
    if clip != want[2][4]:
        fail("clipboard %r, expected %r" % (clip, want[2][4]))

    # 设置目录 through the folder dialog: the label and bc.ini change, to a Linux path ending in "/".
    os.makedirs(SONGS, exist_ok=True)
    click(choose)
    dialog = wait("the folder dialog", lambda: find_frame("选择保存目录"))
    name_box = [t for t in find_all(dialog, pyatspi.ROLE_TEXT) if t.getState().contains(pyatspi.STATE_EDITABLE)]
    name_box[-1].queryEditableText().setTextContents(SONGS)
    chooser = [b for b in find_all(dialog, pyatspi.ROLE_PUSH_BUTTON) if b.name.startswith("选择")]
    if not chooser:
        fail("no 选择 button: " + repr([b.name for b in find_all(dialog, pyatspi.ROLE_PUSH_BUTTON)]))
    press(chooser[0])
    wait("the directory label", lambda: find(window, pyatspi.ROLE_LABEL, SONGS + "/"))
    ini = open(os.path.join(CONFIG, "bc.ini"), "rb").read()
    if ("\r\n保存=" + SONGS + "/\r\n").encode("gbk") not in ini:
        fail("bc.ini " + repr(ini))

    # 下载: the file byte for byte under its UTF-8 name, 下载完成, the sound once.
    menu_item(window, 0, 2)
    wait("下载完成", lambda: "下载完成" in text_of(pane(window, 2)), 30)
    target = os.path.join(SONGS, want[0][1] + "_" + want[0][2] + ".mp3")
    song_id = want[0][4].rsplit("/", 1)[1]
    if not os.path.exists(target) or open(target, "rb").read() != get("/media/" + song_id):
        fail("downloaded file %s: %r" % (target, os.listdir(SONGS)))
    if len(lines(TRACE["sound"])) != 1:
        fail("sounds " + repr(lines(TRACE["sound"])))
    check_status_bar(window, [text_of(pane(window, i)) for i in range(4)])
    shot("download")

    # The directory is kept across a restart.
    stop_program()
    window = start_program()
    wait("the directory label after a restart", lambda: find(window, pyatspi.ROLE_LABEL, SONGS + "/"))

    # A bc.ini of an earlier native build, its directory ending in "\": shown as the Linux path,
    # and the downloads below go into it.
    stop_program()
    ini = open(os.path.join(CONFIG, "bc.ini"), "rb").read()
    with open(os.path.join(CONFIG, "bc.ini"), "wb") as old:
        old.write(ini.replace(("保存=" + SONGS + "/").encode("gbk"), ("保存=" + SONGS + "\\").encode("gbk")))
    window = start_program()
    wait("the directory label from an old bc.ini", lambda: find(window, pyatspi.ROLE_LABEL, SONGS + "/"))

    # A large song whose catalogue is killed mid-transfer: 下载失败, and no file under its name.
    edit = find(window, pyatspi.ROLE_TEXT, "编辑框1")
    edit.queryEditableText().setTextContents("巨大")
    press(find(window, pyatspi.ROLE_PUSH_BUTTON, "搜索"))
    large = wait("the large song", lambda: [r for r in table_rows(window) if r[1] == "巨大的歌"])[0]
    before = set(os.listdir(SONGS))
    menu_item(window, 0, 2)
    wait("the transfer under way", lambda: any(os.path.getsize(os.path.join(SONGS, f)) > (1 << 20)
                                               for f in set(os.listdir(SONGS)) - before), 30)
    os.kill(int(os.environ["CATALOGUE_PID"]), 9)
    wait("下载失败", lambda: text_of(pane(window, 2)) == large[1] + " - " + large[2] + "  下载失败", 60)
    if set(os.listdir(SONGS)) != before:
        fail("a failed download left " + repr(set(os.listdir(SONGS)) - before))
    shot("failed")
    stop_program()
    print("PASS: native end to end", flush=True)


if __name__ == "__main__":
    try:
        demo() if DEMO else bench() if BENCH else many_collections() if COLLECTIONS else lan() if LAN else main()
    finally:
        if native_steps.program is not None and native_steps.program.poll() is None:
            native_steps.program.kill()

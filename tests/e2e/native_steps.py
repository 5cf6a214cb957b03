"""The steps native_driver.py's scenarios are made of: the run's settings from the command line,
starting and stopping the program, finding controls through AT-SPI and acting on them."""
import ctypes
import hashlib
import json
import os
import subprocess
import sys
import time
import urllib.parse
import urllib.request

import pyatspi


DEMO = sys.argv[1] == "--demo"
BENCH = sys.argv[1] == "--bench"
COLLECTIONS = sys.argv[1] == "--collections"
LAN = sys.argv[1] == "--lan"
if BENCH or COLLECTIONS or LAN:
    sys.argv.pop(1)
if DEMO:
    PROGRAM, CONFIG_HOME, DEMO_SHOT = sys.argv[2:5]
    BASE, OUT = "", os.path.dirname(DEMO_SHOT)
else:
    PROGRAM, BASE, OUT = sys.argv[1:4]
    CONFIG_HOME = os.path.join(OUT, "config")
TITLE = "Tessel音乐搜索下载器"
CONFIG = os.path.join(CONFIG_HOME, "tessel")
SONGS = os.path.join(OUT, "songs")
TRACE = {name: os.path.join(OUT, name + ".log") for name in ("player", "sound", "message", "event")}
# The search box's key handler: the stub offset of OnSearchBoxKey (the third routine, 5 bytes each).
ROUTINE_SEARCH_BOX_KEY = 10
program = None


def fail(text):
    shot("failure")
    print("FAIL: " + text, flush=True)
    sys.exit(1)


def shot(name, path=None):
    subprocess.run(["import", "-window", "root", path or os.path.join(OUT, "native_" + name + ".png")],
                   check=False, stderr=subprocess.DEVNULL)


def wait(what, condition, seconds=15.0):
    end = time.monotonic() + seconds
    while time.monotonic() < end:
        value = condition()
        if value:
            return value
        time.sleep(0.05)
    fail("timed out waiting for " + what)


def get(path):
    with urllib.request.urlopen(BASE + path, timeout=10) as answer:
        return answer.read()


def duration(s):
    return "%02d:%02d" % (s // 60, s % 60)


def expected_rows(path):
    """The rows the program should list, from the catalogue's own three pages."""
    rows = []
    for offset in (0, 20, 40):
        for song in json.loads(get(path + str(offset))).get("data") or []:
            rows.append([str(len(rows) + 1), song.get("title", ""), song.get("author", ""),
                         duration(song.get("duration", 0)), song["play_url"]["url_list"][0]])
    return rows


def launch(env, **streams):
    """Starts the program; it is the one the other steps look at and stop."""
    global program
    program = subprocess.Popen([PROGRAM], env=env, **streams)
    return program


def start_program():
    env = dict(os.environ, QT_LINUX_ACCESSIBILITY_ALWAYS_ON="1", XDG_CONFIG_HOME=CONFIG_HOME,
               TESSEL_PLAYER_LOG=TRACE["player"], TESSEL_SOUND_LOG=TRACE["sound"],
               TESSEL_MESSAGE_LOG=TRACE["message"], QT_MEDIA_BACKEND="gstreamer")
    env.pop("QT_QPA_PLATFORMTHEME", None)
    launch(env, stdout=open(os.path.join(OUT, "program.log"), "a"), stderr=subprocess.STDOUT)
    return wait("the main window", lambda: find_frame(TITLE), 20)


def stop_program():
    if program is not None and program.poll() is None:
        close_window(window_id(TITLE))
        try:
            program.wait(10)
        except subprocess.TimeoutExpired:
            program.kill()
            fail("the program did not end when its window was closed")


def find_frame(name):
    for app in pyatspi.Registry.getDesktop(0):
        if app is None:
            continue
        try:
            if app.get_process_id() != program.pid:
                continue
        except Exception:
            continue
        for child in app:
            if child is not None and child.name == name and child.getState().contains(pyatspi.STATE_SHOWING):
                return child
    return None


def find(root, role, name=None, description=None):
    def match(a):
        return (a.getRole() == role and (name is None or a.name == name)
                and (description is None or a.description == description))
    return pyatspi.findDescendant(root, match, True)


def find_all(root, role):
    found, todo = [], [root]
    while todo:
        node = todo.pop(0)
        for child in node or []:
            if child is None:
                continue
            if child.getRole() == role:
                found.append(child)
            todo.append(child)
    return found


def text_of(accessible):
    """A label's text, or its name where it offers no text."""
    try:
        t = accessible.queryText()
        return t.getText(0, t.characterCount)
    except NotImplementedError:
        return accessible.name


def check_status_bar(window, texts):
    """What a screen reader meets: a status bar whose panes are named by their texts."""
    bar = pane(window, 0).parent
    if bar.getRole() != pyatspi.ROLE_STATUS_BAR:
        fail("the status bar is a %s named %r" % (bar.getRoleName(), bar.name))
    names = [pane(window, i).name for i in range(4)]
    if names != texts:
        fail("the panes are named %r, their texts are %r" % (names, texts))


def extents(accessible):
    e = accessible.queryComponent().getExtents(pyatspi.DESKTOP_COORDS)
    return e.x, e.y, e.width, e.height


def press(accessible):
    accessible.queryAction().doAction(0)


def click(accessible, button=1, dx=None, dy=None):
    x, y, w, h = extents(accessible)
    subprocess.run(["xdotool", "mousemove", str(x + (dx if dx is not None else w // 2)),
                    str(y + (dy if dy is not None else h // 2)), "click", str(button)], check=True)


def pane(window, n):
    return find(window, pyatspi.ROLE_LABEL, description="状态条1" + str(n))


def table_rows(window):
    table = find(window, pyatspi.ROLE_TABLE, "超级列表框1").queryTable()
    cells = [[table.getAccessibleAt(r, c) for c in range(table.nColumns)] for r in range(table.nRows)]
    # A list being refilled may answer for a cell that is gone: read again later.
    return [] if any(c is None for row in cells for c in row) else [[c.name for c in row] for row in cells]


def window_id(name):
    out = subprocess.run(["xdotool", "search", "--pid", str(program.pid), "--name", "^" + name + "$"],
                         capture_output=True, text=True).stdout.split()
    return int(out[0]) if out else 0


def window_of_size(w, h):
    ids = subprocess.run(["xdotool", "search", "--onlyvisible", "--pid", str(program.pid), "--name", ""],
                         capture_output=True, text=True).stdout.split()
    for wid in ids:
        geometry = subprocess.run(["xdotool", "getwindowgeometry", wid], capture_output=True, text=True).stdout
        if "Geometry: %dx%d" % (w, h) in geometry:
            return int(wid)
    return 0


def close_window(wid):
    """What a window manager's close box does: WM_DELETE_WINDOW to the window."""
    if wid == 0:
        return
    x11 = ctypes.cdll.LoadLibrary("libX11.so.6")
    x11.XOpenDisplay.restype = ctypes.c_void_p
    x11.XInternAtom.restype = ctypes.c_ulong
    x11.XInternAtom.argtypes = [ctypes.c_void_p, ctypes.c_char_p, ctypes.c_int]
    x11.XSendEvent.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_int, ctypes.c_long, ctypes.c_void_p]
    display = x11.XOpenDisplay(None)

    class ClientMessage(ctypes.Structure):
        _fields_ = [("type", ctypes.c_int), ("serial", ctypes.c_ulong), ("send_event", ctypes.c_int),
                    ("display", ctypes.c_void_p), ("window", ctypes.c_ulong), ("message_type", ctypes.c_ulong),
                    ("format", ctypes.c_int), ("data", ctypes.c_long * 5), ("pad", ctypes.c_long * 12)]
    event = ClientMessage()
    event.type = 33  # ClientMessage
    event.window = wid
    event.message_type = x11.XInternAtom(display, b"WM_PROTOCOLS", 0)
    event.format = 32
    event.data[0] = x11.XInternAtom(display, b"WM_DELETE_WINDOW", 0)
    x11.XSendEvent(display, wid, 0, 0, ctypes.byref(event))
    x11.XFlush.argtypes = [ctypes.c_void_p]
    x11.XFlush(display)
    x11.XCloseDisplay.argtypes = [ctypes.c_void_p]
    x11.XCloseDisplay(display)


def menu_item(window, row, item):
    """Right-clicks a row and chooses the pop-up menu's item (1-based) with the keyboard."""
    table = find(window, pyatspi.ROLE_TABLE, "超级列表框1").queryTable()
    click(table.getAccessibleAt(row, 1), button=3)
    time.sleep(0.3)
    subprocess.run(["xdotool", "key"] + ["Down"] * item + ["Return"], check=True)


def lines(path):
    return open(path, encoding="utf-8").read().splitlines() if os.path.exists(path) else []


def write_settings():
    """bc.ini naming the catalogue (GBK)."""
    os.makedirs(CONFIG, exist_ok=True)
    host = urllib.parse.urlsplit(BASE).netloc
    with open(os.path.join(CONFIG, "bc.ini"), "wb") as ini:
        ini.write(("[服务]\r\n主机=%s\r\n" % host).encode("gbk"))


def relative(accessible, window):
    """left, top, right, bottom of a control in the window's client area."""
    x, y, w, h = extents(accessible)
    wx, wy = extents(window)[:2]
    return x - wx, y - wy, x - wx + w, y - wy + h


def rss_kb():
    for line in open("/proc/%d/status" % program.pid):
        if line.startswith("VmRSS:"):
            return int(line.split()[1])
    return 0

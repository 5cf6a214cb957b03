// clang-format off
// tessel-ui-driver: drives another process's windows with window messages, for end-to-end tests.
//
// Usage: tessel-ui-driver [OPTIONS] COMMAND [OPTIONS] [ARGUMENT]
// Options (any command):
//   --timeout-ms N   every wait is bounded by it (default 10000), times TESSEL_WAIT_SCALE
//                    (a whole number, 1 when unset) on a machine that many times slower than
//                    a real one, such as a guest under software emulation
//   --desktop NAME   work on that desktop, e.g. the one of `wine explorer /desktop=NAME,WxH prog.exe`
// The top-level window is the first that matches --title T (exact), --hwnd 0xH, --pid N and
// --window-class C, those given; a visible one is preferred over a hidden one. (--title T
// below stands for any of them.)
// <control> picks one of the window's descendants: --class C, then optionally --text X (exact
// window text), --id N (control id) and --nth N (0-based among the matches, enumeration order).
//
// Commands:
//   windows [--title T ...]               prints every top-level window that matches (all by default)
//   wait-window --title T                 prints the window handle: 0x0001005A
//   dump --title T                        prints the records below
//   get-text --title T <control> [--pane P | --row R [--column C]]
//                                         prints the control's text alone, or a status pane's,
//                                         or a list cell's
//   wait-text --title T <control> [--pane P | --row R [--column C]] TEXT
//                                         waits until that text equals TEXT
//   set-text --title T <control> TEXT     sends WM_SETTEXT
//   click --title T <control> [--no-wait] Button: sends BM_CLICK and returns when the handler has
//                                         run, or has opened a dialog box of the program (noted on
//                                         stderr, exit 0), or at the timeout (noted, exit 0);
//                                         --no-wait posts it instead. Other classes: posts a left
//                                         button down/up at the centre (or at --x X --y Y)
//   key --title T <control> VK            posts WM_KEYDOWN/WM_KEYUP; VK is RETURN, ESCAPE, TAB,
//                                         SPACE, UP, DOWN, LEFT, RIGHT, DELETE, BACK, HOME, END,
//                                         F1..F12, a letter or digit, or a number
//   rclick --title T <control> [--row R] [--x X --y Y]
//   dblclick --title T <control> [--row R] [--x X --y Y]
//                                         posts the button messages at (X,Y) of the control's
//                                         client area, or the centre of list row R, or the centre
//   select-row --title T [<control>] N    selects and focuses list row N only (LVM_SETITEMSTATE);
//                                         <control> defaults to --class SysListView32
//   menu                                  waits for a popup menu and prints it
//   menu-select TEXT                      chooses the popup menu's item TEXT (keys posted to the
//                                         menu) and waits for the menu to close
//   message-box [--title T]               waits for a dialog box and prints it
//   press TEXT [--title T]                presses the dialog box's button TEXT (or OK, CANCEL,
//                                         YES, NO by their ids) and waits for the box to go
//   choose-folder PATH [--title T]        waits for a folder dialog, selects PATH in it and
//                                         presses OK
//   clipboard                             prints the clipboard's text alone
//   close --title T [--wait-exit]         posts WM_CLOSE; --wait-exit waits for the window's
//                                         process to end and prints exit-code=N
//   wait-gone --title T                   waits until no visible window has that title
//
// Records, one a line, UTF-8, "\n"-terminated; texts are quoted with \\ \" \n \r \t and \xHH
// escapes:
//   top hwnd=0x00010020 pid=32 class="..." visible=1 rect=LEFT,TOP,WIDTH,HEIGHT title="..."
//   window hwnd=0x00010020 pid=32 title="..." rect=LEFT,TOP,WIDTH,HEIGHT client=WIDTH,HEIGHT
//   control hwnd=0x00010022 class=Edit id=1 rect=LEFT,TOP,WIDTH,HEIGHT visible=1 enabled=1 text="..."
//                         (rect relative to the top window's client area; depth first, z-order)
//   after a SysListView32's control record:
//     columns count=5
//     column index=0 width=50 align=left text="序号"            (align is left, right or center)
//     rows count=2
//     page rows=12                                               (rows the list shows whole)
//     row index=0 cells="1","title",...
//   after a msctls_statusbar32's control record:
//     panes count=4
//     pane index=0 width=130 right=130 text="状态："            (right=-1: to the bar's edge)
//   menu hwnd=0x00010040 count=3, then per item:
//     item index=0 id=101 separator=0 enabled=1 checked=0 text="播放"
//   dialog hwnd=0x00010050 title="..." text="...", then per visible button:
//     button id=1 text="OK"                                      (without '&')
//   exit-code=0
//
// Exit codes: 0 done; 1 usage; 2 window, control, menu, dialog or desktop not found in time;
// 3 the operation failed (remote memory, clipboard, missing item or row); 4 wait-text,
// wait-gone, menu-select or press timed out, or close --wait-exit saw no exit.
// clang-format on
#include <windows.h>
// The common controls header needs windows.h first.
#include <commctrl.h>

#include <string>

#include "driver_commands.h"
#include "driver_options.h"
#include "driver_output.h"
#include "driver_windows.h"

using namespace ui_driver;

namespace {

int Run(const Options& options) {
    struct Command {
        const wchar_t* name;
        int (*run)(const Options&);
    };
    static const Command kCommands[] = {
        {L"windows", CommandWindows},
        {L"wait-window", CommandWaitWindow},
        {L"dump", CommandDump},
        {L"get-text", CommandGetText},
        {L"wait-text", CommandWaitText},
        {L"set-text", CommandSetText},
        {L"click", CommandClick},
        {L"key", CommandKey},
        {L"rclick", [](const Options& o) { return CommandMouse(o, true); }},
        {L"dblclick", [](const Options& o) { return CommandMouse(o, false); }},
        {L"select-row", [](const Options& o) { return CommandSelectRow(o); }},
        {L"menu", CommandMenu},
        {L"menu-select", CommandMenuSelect},
        {L"message-box", CommandMessageBox},
        {L"press", CommandPress},
        {L"choose-folder", CommandChooseFolder},
        {L"clipboard", CommandClipboard},
        {L"close", CommandClose},
        {L"wait-gone", CommandWaitGone},
    };
    for (const Command& command : kCommands) {
        if (options.command == command.name) return command.run(options);
    }
    return Fail(kUsage, L"unknown command " + options.command);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    Options options;
    std::wstring error;
    if (!ParseOptions(argc, argv, &options, &error)) {
        return Fail(kUsage, error +
                                L" (commands and options are described at the top of "
                                L"tests/ui/ui_driver.cpp)");
    }
    if (!options.desktop.empty()) {
        // The desktop appears with the first program started on it, and ends with its last
        // window: once it is gone, wait-gone has nothing left to wait for.
        const bool waitGone = options.command == L"wait-gone";
        HDESK desktop = nullptr;
        WaitFor(waitGone ? 0 : options.timeoutMs, [&] {
            return (desktop = OpenDesktopW(options.desktop.c_str(), 0, FALSE, GENERIC_ALL)) !=
                   nullptr;
        });
        if (!desktop && waitGone) return kOk;
        if (!desktop || !SetThreadDesktop(desktop)) {
            return Fail(kNotFound, L"cannot use the desktop " + options.desktop);
        }
    }
    return Run(options);
}

// basalt.fnr started the way the launcher will start it, with the program's image: the main
// window's start state, events reaching their handlers, the menu, the end of the program and
// each runtime error's message, the player's copies of songs at a runtime error, and windows
// the system destroys behind the runtime's back.
#include <gtest/gtest.h>
#include <windows.h>
// After windows.h, which it needs.
#include <commctrl.h>

#include <algorithm>
#include <string>
#include <vector>

#include "started_program.h"
#include "temporary_copies.h"
#include "test_http_server.h"
#include "tone_wav.h"

namespace tessel::basalt_test {
namespace {

// Closing the main window ends the program with exit code 0, the clean-up having run once.
void CloseAndExpectCleanEnd(StartedProgram& p, HWND main) {
    PostMessageW(main, WM_CLOSE, 0, 0);
    EXPECT_EQ(p.WaitForExit(), 0u);
    EXPECT_EQ(p.CountLogLines("OnMainWindowDestroy 0 0 0"), 1);
    EXPECT_EQ(p.CountLogLines("cleanup"), 1);
    EXPECT_EQ(p.CountLogLines("OnMainWindowCreated 0 0 0"), 1);
}

TEST(BasaltWindows, MainWindowShowsItsStartState) {
    StartedProgram p("");
    ASSERT_TRUE(p.Started());
    HWND main = p.WaitForMainWindow();
    ASSERT_NE(main, nullptr);
    EXPECT_EQ(Utf8(WindowText(main)), "Tessel音乐搜索下载器");
    RECT r{};
    GetWindowRect(main, &r);
    EXPECT_EQ(r.left, 50);
    EXPECT_EQ(r.top, 50);
    EXPECT_EQ(r.right - r.left, 811);
    EXPECT_EQ(r.bottom - r.top, 498);
    // The created event runs once the window stands.
    EXPECT_TRUE(p.WaitForLogLine("OnMainWindowCreated 0 0 0"));

    const auto buttons = Children(main, L"Button");
    ASSERT_EQ(buttons.size(), 1u);
    EXPECT_EQ(Utf8(WindowText(buttons[0])), "搜索");
    EXPECT_EQ(Children(main, L"Edit").size(), 1u);
    std::vector<std::string> labels;
    for (HWND s : Children(main, L"Static")) {
        labels.push_back(Utf8(WindowText(s)) + (IsWindowVisible(s) ? "" : " (hidden)"));
    }
    EXPECT_EQ(labels, (std::vector<std::string>{"设置目录", "", "标签 (hidden)"}));

    const auto lists = Children(main, L"SysListView32");
    ASSERT_EQ(lists.size(), 1u);
    const char* headers[] = {"序号", "音乐标题", "歌手", "时长", "下载地址"};
    const int widths[] = {50, 200, 150, 50, 300};
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(Utf8(p.ListColumnHeader(lists[0], i)), headers[i]) << i;
        EXPECT_EQ(SendMessageW(lists[0], LVM_GETCOLUMNWIDTH, i, 0), widths[i]) << i;
    }
    EXPECT_EQ(SendMessageW(lists[0], LVM_GETITEMCOUNT, 0, 0), 0);

    const auto bars = Children(main, STATUSCLASSNAMEW);
    ASSERT_EQ(bars.size(), 1u);
    EXPECT_EQ(SendMessageW(bars[0], SB_GETPARTS, 0, 0), 4);
    const char* panes[] = {"状态：", "下载速度：", "", "By：Quenby"};
    for (int i = 0; i < 4; ++i) EXPECT_EQ(Utf8(p.StatusPaneText(bars[0], i)), panes[i]) << i;

    // The edit box has the focus first; Tab goes on to the button and the list, not the labels.
    const DWORD thread = GetWindowThreadProcessId(main, nullptr);
    auto focus = [&] {
        GUITHREADINFO info{};
        info.cbSize = sizeof info;
        return GetGUIThreadInfo(thread, &info) ? info.hwndFocus : nullptr;
    };
    HWND edit = Children(main, L"Edit")[0];
    EXPECT_TRUE(WaitUntil([&] { return focus() == edit; }));
    PostMessageW(edit, WM_KEYDOWN, VK_TAB, 0);
    EXPECT_TRUE(WaitUntil([&] { return focus() == buttons[0]; }));
    PostMessageW(buttons[0], WM_KEYDOWN, VK_TAB, 0);
    EXPECT_TRUE(WaitUntil([&] { return focus() == lists[0]; }));

    CloseAndExpectCleanEnd(p, main);
}

TEST(BasaltWindows, UnitOperationsAndEventsReachTheirHandlers) {
    StartedProgram p("units");
    HWND main = p.WaitForMainWindow();
    ASSERT_NE(main, nullptr);
    EXPECT_TRUE(p.WaitForLogLine("player created 0 never set 0"));
    const auto lines = p.LogLines();
    auto has = [&](const std::string& l) {
        return std::find(lines.begin(), lines.end(), l) != lines.end();
    };
    EXPECT_TRUE(has("pane2 pane two"));
    EXPECT_TRUE(has("rows 1 cell title selected -1"));
    EXPECT_TRUE(has("edit keyword"));
    EXPECT_TRUE(has("copy new tag one id-1 48 51 shown 1"));
    EXPECT_TRUE(has("width 811"));
    EXPECT_TRUE(has("icon 1"));          // the program's icon, read in the window's process
    EXPECT_TRUE(has("colours 255 -1"));  // red text, transparent background
    EXPECT_TRUE(has("dll0 3"));          // "ab" and its terminator
    EXPECT_TRUE(has("basalt beside 1"));
    // The timer was started with period 50: one tick.
    EXPECT_TRUE(p.WaitForLogLine("OnProgressTick 0 0 0"));

    // The copied label runs the template's handler, and is the unit that raised the event.
    HWND tag = FindWindowExW(main, nullptr, L"Static", L"tag one");
    ASSERT_NE(tag, nullptr);
    PostMessageW(tag, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(3, 4));
    EXPECT_TRUE(p.WaitForLogLine("OnTagClick 3 4 1"));
    EXPECT_TRUE(p.WaitForLogLine("raised by tag one"));

    SendMessageW(Children(main, L"Button")[0], BM_CLICK, 0, 0);
    EXPECT_TRUE(p.WaitForLogLine("OnSearch 0 0 0"));
    HWND edit = Children(main, L"Edit")[0];
    PostMessageW(edit, WM_KEYDOWN, VK_RETURN, 0);
    EXPECT_TRUE(p.WaitForLogLine("OnSearchBoxKey 13 0 0"));
    PostMessageW(edit, WM_LBUTTONDBLCLK, MK_LBUTTON, MAKELPARAM(2, 2));
    EXPECT_TRUE(p.WaitForLogLine("OnSearchBoxDoubleClick 0 0 0"));

    // The player window: loaded and shown beside the main window; its close box only hides it.
    EXPECT_TRUE(p.WaitForLogLine("player loaded 1 created 1"));
    HWND player = FindWindowExW(nullptr, nullptr, L"TesselWindow", L"");
    ASSERT_NE(player, nullptr);
    // The media player control's host stands in the unit's stored place, 376 x 45 at 0,0.
    EXPECT_EQ(FindWindowExW(player, nullptr, L"Static", L"control not registered"), nullptr);
    HWND unit = GetWindow(player, GW_CHILD);
    ASSERT_NE(unit, nullptr);
    RECT r{};
    GetWindowRect(unit, &r);
    MapWindowPoints(nullptr, player, reinterpret_cast<POINT*>(&r), 2);
    EXPECT_EQ(r.left, 0);
    EXPECT_EQ(r.top, 0);
    EXPECT_EQ(r.right - r.left, 376);
    EXPECT_EQ(r.bottom - r.top, 45);
    PostMessageW(player, WM_CLOSE, 0, 0);
    EXPECT_TRUE(p.WaitForLogLine("OnPlayerWindowCloseQuery 0 0 0"));
    EXPECT_TRUE(WaitUntil([&] { return !IsWindowVisible(player); }));
    EXPECT_TRUE(IsWindow(player));

    CloseAndExpectCleanEnd(p, main);
}

// Windows the system destroys leave the runtime as if it had destroyed them: no second destroy,
// the destroying event raised once, a player window loaded again afterwards, and the main
// window's end ending the program cleanly, though it went from inside one of its buttons.
TEST(BasaltWindows, WindowsTheSystemDestroysLeaveTheRuntime) {
    StartedProgram p("system-destroys");
    HWND main = p.WaitForMainWindow();
    ASSERT_NE(main, nullptr);
    PostMessageW(Children(main, L"Button")[0], BM_CLICK, 0, 0);
    EXPECT_EQ(p.WaitForExit(), 0u);
    const auto lines = p.LogLines();
    const std::vector<std::string> expected = {"OnSearch 0 0 0",
                                               "player window 1",
                                               "player gone 1 created 0",
                                               "player loaded again 1 created 1",
                                               "OnMainWindowDestroy 0 0 0",
                                               "main window destroyed",
                                               "cleanup"};
    const auto from = std::find(lines.begin(), lines.end(), expected.front());
    EXPECT_EQ(std::vector<std::string>(from, lines.end()), expected);
    EXPECT_EQ(p.CountLogLines("OnMainWindowDestroy 0 0 0"), 1);
}

TEST(BasaltWindows, RightClickOnTheListPopsUpTheMenu) {
    const char* handlers[] = {"OnPlay 0 0 0", "OnDownload 0 0 0", "OnCopyAddress 0 0 0"};
    for (int item = 0; item < 3; ++item) {
        StartedProgram p("menu", item);
        HWND main = p.WaitForMainWindow();
        ASSERT_NE(main, nullptr);
        HWND list = Children(main, L"SysListView32")[0];
        PostMessageW(list, WM_RBUTTONDOWN, MK_RBUTTON, MAKELPARAM(40, 40));
        PostMessageW(list, WM_RBUTTONUP, 0, MAKELPARAM(40, 40));
        EXPECT_TRUE(p.WaitForLogLine("OnListRightClick 0 0 0"));
        EXPECT_TRUE(p.WaitForLogLine("menu 播放 下载 复制下载地址"));
        EXPECT_TRUE(p.WaitForLogLine(handlers[item])) << item;
        CloseAndExpectCleanEnd(p, main);
    }
}

TEST(BasaltWindows, FolderDialogCancelledGivesTheEmptyText) {
    StartedProgram p("");
    HWND main = p.WaitForMainWindow();
    ASSERT_NE(main, nullptr);
    HWND label = FindWindowExW(main, nullptr, L"Static", L"设置目录");
    ASSERT_NE(label, nullptr);
    PostMessageW(label, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(5, 6));
    EXPECT_TRUE(p.WaitForLogLine("OnChooseSaveDirectory 5 6 1"));
    HWND dialog = p.WaitForTopLevel(L"#32770");
    ASSERT_NE(dialog, nullptr);
    PostMessageW(dialog, WM_COMMAND, IDCANCEL, 0);
    EXPECT_TRUE(p.WaitForLogLine("folder []"));
    CloseAndExpectCleanEnd(p, main);
}

TEST(BasaltWindows, EachRuntimeErrorEndsTheProgramWithItsMessage) {
    for (int code : {1, 4, 5, 6, 7, 9}) {
        StartedProgram p("error" + std::to_string(code));
        HWND box = p.WaitForTopLevel(L"#32770");
        ASSERT_NE(box, nullptr) << code;
        std::string text;
        for (HWND s : Children(box, L"Static")) text += Utf8(WindowText(s));
        EXPECT_NE(text.find("Runtime error " + std::to_string(code) + ":"), std::string::npos)
            << text;
        PostMessageW(box, WM_COMMAND, IDOK, 0);
        EXPECT_EQ(p.WaitForExit(), static_cast<DWORD>(100 + code));
        EXPECT_EQ(p.CountLogLines("cleanup"), 1) << code;
    }
}

// A runtime error raised while the player plays its copy of a song (from within the control's
// open-state event): the program's end releases the player and removes the copy.
TEST(BasaltWindows, ARuntimeErrorLeavesNoCopyOfASongBehind) {
    const std::string wav = testing::MakeToneWav(3);
    testing::TestHttpServer server([&wav](const testing::ReceivedRequest&) {
        testing::ServerResponse response;
        response.headers = {"Content-Type: audio/wav"};
        response.body = wav;
        return response;
    });
    ASSERT_TRUE(server.ok());
    SetEnvironmentVariableA("TESSEL_STARTER_URL", server.Url("/song.wav").c_str());
    StartedProgram p("play-error");
    SetEnvironmentVariableA("TESSEL_STARTER_URL", nullptr);
    HWND box = p.WaitForTopLevel(L"#32770");
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(p.CountLogLines("OnPlayerOpenStateChange 13 0 0"), 1)
        << "the open state reaches the handler";
    EXPECT_EQ(player::CountCopiesOfProcess(p.ProcessId()), 1)
        << "the copy is there while the box shows";
    PostMessageW(box, WM_COMMAND, IDOK, 0);
    EXPECT_EQ(p.WaitForExit(), 109u);
    EXPECT_EQ(p.CountLogLines("cleanup"), 1);
    EXPECT_EQ(player::CountCopiesOfProcess(p.ProcessId()), 0);
}

}  // namespace
}  // namespace tessel::basalt_test

// Stand-in handlers for the development starter. Each writes a line to the file named by
// TESSEL_STARTER_LOG ("<handler> <a> <b> <c>"); TESSEL_STARTER_MODE chooses what the window-
// created handler does beyond that: raise a runtime error, exercise the unit operations, (for
// "menu") have the right click on the list pop up the menu and choose item
// TESSEL_STARTER_MENU_ITEM from a helper thread that also logs the menu's captions, or (for
// "play-error") play TESSEL_STARTER_URL in the player window and raise runtime error 9 once the
// control reports the media open. In "system-destroys" mode the search button has the system
// destroy the windows.
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <cwchar>
#include <string>

#include "tessel/app/window_units.h"
#include "tessel/runtime/dll_commands.h"
#include "tessel/runtime/kernel.h"
#include "tessel/runtime/services.h"
#include "tessel/runtime/text.h"
#include "tessel/runtime/units.h"

namespace {

using namespace tessel;

// The program's own units, by the names its handlers use.
constexpr std::uint32_t kMainWindow = app::kMainWindowId;
constexpr UnitRef kEditBox = app::kSearchBox;
constexpr UnitRef kChooseLabel = app::kChooseDirectoryLabel;
constexpr UnitRef kTemplateLabel = app::kTagTemplate;
constexpr UnitRef kList = app::kSongList;
constexpr UnitRef kStatusBar = app::kStatusBar;
constexpr UnitRef kTimer = app::kProgressTimer;
constexpr UnitRef kMenu = app::kListMenu;
constexpr UnitRef kPlayerWindow = app::kPlayerWindow;
constexpr UnitRef kPlayer = app::kPlayer;

std::string Environment(const char* name) {
    char value[512] = {};
    const DWORD n = GetEnvironmentVariableA(name, value, sizeof value);
    return n > 0 && n < sizeof value ? std::string(value, n) : std::string();
}

void Log(const std::string& line) {
    const std::string path = Environment("TESSEL_STARTER_LOG");
    if (path.empty()) return;
    if (FILE* f = std::fopen(path.c_str(), "ab")) {
        std::fprintf(f, "%s\n", line.c_str());
        std::fclose(f);
    }
}

void LogCall(const char* name, int a, int b, int c) {
    Log(std::string(name) + " " + std::to_string(a) + " " + std::to_string(b) + " " +
        std::to_string(c));
}

std::string Utf8FromGbk(const char* gbk) {
    wchar_t wide[1024] = {};
    MultiByteToWideChar(936, 0, gbk, -1, wide, 1024);
    char utf8[4096] = {};
    WideCharToMultiByte(CP_UTF8, 0, wide, -1, utf8, sizeof utf8, nullptr, nullptr);
    return utf8;
}

void LogCleanUp() {
    Log("cleanup");
}

void RaiseChosenError(const std::string& mode) {
    if (mode == "error1") SplitText("a,b", ",").at(3);
    if (mode == "error4") SplitText("a,b", ",").at(0);
    if (mode == "error5") Expect(IntegerValue(1), tag::kText);
    if (mode == "error6") {
        // CoUninitialize takes no argument: one given unbalances the stack.
        const Word extra[] = {0};
        CallDll(dll::kCoUninitialize, extra);
    }
    if (mode == "error7") {
        // A byte array one byte too long for its block size to be stated in 32 bits.
        const char data[1] = {};
        MakeByteArray(data, 0xFFFFFFF8u);
    }
    if (mode == "error9") RaiseRuntimeError(runtime_error::kSelectionOutOfRange);
}

// Services beyond windows, through basalt: DLL command 0 (no library name: kernel32) and kernel
// commands of the system.
void ExerciseServices() {
    const char text[] = "ab";
    const Word args[] = {936, 0, reinterpret_cast<Word>(text), static_cast<Word>(-1), 0, 0};
    Log("dll0 " + std::to_string(CallDll(dll::kMultiByteToWideChar, args)));
    const Text directory = ProgramDirectory();
    const Text beside(JoinTexts({directory.c_str(), "\\basalt.fnr"}));
    Log("basalt beside " + std::to_string(FileExists(beside.c_str())));
}

// The program's windows of this thread: the player window has no title, the main window has one.
struct WindowSearch {
    bool titled;
    HWND found;
};
BOOL CALLBACK MatchProgramWindow(HWND hwnd, LPARAM lp) {
    auto* search = reinterpret_cast<WindowSearch*>(lp);
    wchar_t name[32] = {};
    GetClassNameW(hwnd, name, 32);
    if (std::wcscmp(name, L"TesselWindow") != 0) return TRUE;
    if ((GetWindowTextLengthW(hwnd) > 0) != search->titled) return TRUE;
    search->found = hwnd;
    return FALSE;
}
HWND ProgramWindow(bool titled) {
    WindowSearch search{titled, nullptr};
    EnumThreadWindows(GetCurrentThreadId(), &MatchProgramWindow, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

void ExerciseUnits() {
    // Status pane, list rows and cells, edit content, a copied label, the timer, window width.
    StatusSetPane(kStatusBar, 2, "pane two");
    Log("pane2 " + std::string(StatusReadPane(kStatusBar, 2).c_str()));
    const auto row = ListAppendRow(kList);
    ListSetCell(kList, row, 1, "title");
    Log("rows " + std::to_string(ListRowCount(kList)) + " cell " +
        ListReadCell(kList, row, 1).c_str() + " selected " +
        std::to_string(ListSelectedRow(kList)));
    SetUnitText(kEditBox, "keyword");
    Log("edit " + std::string(ReadUnitText(kEditBox).c_str()));
    const UnitRef copy = CopyUnit(kTemplateLabel, tag::kLabel);
    SetUnitShown(copy, true);
    SetUnitText(copy, "tag one");
    SetUnitTag(copy, "id-1");
    SetUnitInteger(copy, unit_property::kLeft, 8);
    SetUnitInteger(copy, unit_property::kTop, 48);
    SetUnitInteger(copy, unit_property::kWidth, 51);
    SetUnitInteger(copy, unit_property::kHeight, 20);
    RouteEvents(copy, kTemplateLabel, tag::kLabel);
    Log("copy " + std::string(copy.unit != kTemplateLabel.unit ? "new" : "same") + " " +
        ReadUnitText(copy).c_str() + " " + ReadUnitTag(copy).c_str() + " " +
        std::to_string(ReadUnitInteger(copy, unit_property::kTop)) + " " +
        std::to_string(ReadUnitInteger(copy, unit_property::kWidth)) + " shown " +
        std::to_string(ReadUnitInteger(copy, unit_property::kShown)));
    HWND main = ProgramWindow(true);
    Log("icon " + std::to_string(SendMessageW(main, WM_GETICON, ICON_BIG, 0) != 0));
    Log("colours " + std::to_string(ReadUnitInteger(kChooseLabel, unit_property::kTextColour)) +
        " " + std::to_string(ReadUnitInteger(kChooseLabel, unit_property::kBackColour)));
    Log("width " +
        std::to_string(ReadUnitInteger({kMainWindow, kMainWindow}, unit_property::kWidth)));
    SetUnitInteger(kTimer, unit_property::kTimerPeriod, 50);
    Log("player created " + std::to_string(IsUnitCreated(kPlayerWindow)) + " never set " +
        std::to_string(IsUnitCreated({})));
    // The player window, loaded not modal; its control takes an address and a stop.
    const bool loaded = LoadWindow(kPlayerWindow.window, false);
    PlayerSetUrl(kPlayer, "song.mp3");
    PlayerStop(kPlayer);
    Log("player loaded " + std::to_string(loaded) + " created " +
        std::to_string(IsUnitCreated(kPlayerWindow)));
}

// The system destroys the program's windows behind the runtime's back, as the end of a session
// would: the player window first (the runtime forgets it and may load it again), then the main
// window, from inside the handler of one of its own buttons (the program ends as if closed).
void SystemDestroysTheWindows() {
    LoadWindow(kPlayerWindow.window, false);
    HWND player = ProgramWindow(false);
    Log("player window " + std::to_string(player != nullptr));
    ::DestroyWindow(player);
    Log("player gone " + std::to_string(!IsWindow(player)) + " created " +
        std::to_string(IsUnitCreated(kPlayerWindow)));
    const bool again = LoadWindow(kPlayerWindow.window, false);
    Log("player loaded again " + std::to_string(again) + " created " +
        std::to_string(IsUnitCreated(kPlayerWindow)));
    ::DestroyWindow(ProgramWindow(true));
    Log("main window destroyed");
}

// Reads the pop-up menu's captions from inside this process and chooses one item by keys.
DWORD WINAPI ChooseFromMenu(void*) {
    HWND menuWindow = nullptr;
    for (int i = 0; i < 100 && menuWindow == nullptr; ++i) {
        menuWindow = FindWindowW(L"#32768", nullptr);
        if (menuWindow == nullptr) Sleep(50);
    }
    if (menuWindow == nullptr) return 1;
    auto menu = reinterpret_cast<HMENU>(SendMessageW(menuWindow, MN_GETHMENU, 0, 0));
    std::string captions = "menu";
    for (int i = 0; i < GetMenuItemCount(menu); ++i) {
        wchar_t text[64] = {};
        GetMenuStringW(menu, static_cast<UINT>(i), text, 64, MF_BYPOSITION);
        char utf8[256] = {};
        WideCharToMultiByte(CP_UTF8, 0, text, -1, utf8, sizeof utf8, nullptr, nullptr);
        captions += std::string(" ") + utf8;
    }
    Log(captions);
    const int item = std::atoi(Environment("TESSEL_STARTER_MENU_ITEM").c_str());
    for (int i = 0; i <= item; ++i) PostMessageW(menuWindow, WM_KEYDOWN, VK_DOWN, 0);
    PostMessageW(menuWindow, WM_KEYDOWN, VK_RETURN, 0);
    return 0;
}

}  // namespace

extern "C" {

int tessel_OnMainWindowCreated(int a, int b, int c) {
    LogCall("OnMainWindowCreated", a, b, c);
    RegisterAtExit(&LogCleanUp);
    const std::string mode = Environment("TESSEL_STARTER_MODE");
    if (mode.rfind("error", 0) == 0) RaiseChosenError(mode);
    if (mode == "units") {
        ExerciseServices();
        ExerciseUnits();
    }
    if (mode == "play-error" && LoadWindow(kPlayerWindow.window, false))
        PlayerSetUrl(kPlayer, Environment("TESSEL_STARTER_URL").c_str());
    return 0;
}
int tessel_OnPlayerOpenStateChange(int a, int b, int c) {
    LogCall("OnPlayerOpenStateChange", a, b, c);
    constexpr int kMediaOpen = 13;
    static bool raised = false;
    if (a == kMediaOpen && !raised && Environment("TESSEL_STARTER_MODE") == "play-error") {
        raised = true;
        RaiseRuntimeError(runtime_error::kSelectionOutOfRange);
    }
    return 0;
}
int tessel_OnListRightClick(int a, int b, int c) {
    LogCall("OnListRightClick", a, b, c);
    // In "menu" mode a helper thread chooses the item; otherwise the menu waits for the user (or
    // the UI-automation driver).
    if (Environment("TESSEL_STARTER_MODE") == "menu") {
        if (HANDLE t = CreateThread(nullptr, 0, &ChooseFromMenu, nullptr, 0, nullptr))
            CloseHandle(t);
    }
    PopUpMenu(kMainWindow, kMenu);
    return 0;
}
int tessel_OnSearch(int a, int b, int c) {
    LogCall("OnSearch", a, b, c);
    if (Environment("TESSEL_STARTER_MODE") == "system-destroys") SystemDestroysTheWindows();
    return 0;
}
int tessel_OnProgressTick(int a, int b, int c) {
    LogCall("OnProgressTick", a, b, c);
    SetUnitInteger(kTimer, unit_property::kTimerPeriod, 0);  // one tick is enough
    return 0;
}
int tessel_OnTagClick(int a, int b, int c) {
    const UnitRef raised = EventUnit();
    LogCall("OnTagClick", a, b, c);
    Log("raised by " + Utf8FromGbk(ReadUnitText(raised).c_str()));
    return 0;
}
int tessel_OnPlayerWindowCloseQuery(int a, int b, int c) {
    LogCall("OnPlayerWindowCloseQuery", a, b, c);
    SetUnitShown(kPlayerWindow, false);
    return 0;  // hidden, not closed
}
int tessel_OnMainWindowDestroy(int a, int b, int c) {
    LogCall("OnMainWindowDestroy", a, b, c);
    if (IsUnitCreated(kPlayerWindow)) DestroyWindow(kPlayerWindow.window);
    return 0;
}
int tessel_OnChooseSaveDirectory(int a, int b, int c) {
    LogCall("OnChooseSaveDirectory", a, b, c);
    Log("folder [" + Utf8FromGbk(BrowseForFolder("选择保存目录").c_str()) + "]");
    return 0;
}

#define TESSEL_LOGGING_HANDLER(name)         \
    int tessel_##name(int a, int b, int c) { \
        LogCall(#name, a, b, c);             \
        return 0;                            \
    }
TESSEL_LOGGING_HANDLER(OnSearchBoxKey)
TESSEL_LOGGING_HANDLER(OnSearchBoxDoubleClick)
TESSEL_LOGGING_HANDLER(OnListDoubleClick)
TESSEL_LOGGING_HANDLER(OnPlay)
TESSEL_LOGGING_HANDLER(OnDownload)
TESSEL_LOGGING_HANDLER(OnCopyAddress)
#undef TESSEL_LOGGING_HANDLER

}  // extern "C"

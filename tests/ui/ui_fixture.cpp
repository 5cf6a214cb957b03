// A stand-in for the program's main window, built from the same standard controls, so the
// UI-automation driver can be proven without the program itself. It reacts observably:
//   - the button "搜索" or Enter in the edit box: pane 0 shows the edit box's text; for the text
//     "box" a message box "没有找到" titled "搜索" comes first, then pane 0 shows "box answered";
//   - a right click on the list pops up "菜单"; choosing an item shows its caption in pane 2;
//     "复制下载地址" also puts the selected row's address (or "no-row") on the clipboard;
//   - a double-click on the list: pane 2 shows "双击 N" (N the selected row, -1 for none);
//   - a left click on the label "设置目录": a message box "选择保存目录" titled "提示";
//     its answer goes to pane 1 ("OK" or "取消");
//   - closing the window ends the program with exit code 0.
#include <windows.h>
// The common controls header needs windows.h first.
#include <commctrl.h>

#include <string>

namespace {

constexpr int kEditId = 1;
constexpr int kSearchButtonId = 2;
constexpr int kSaveDirLabelId = 3;
constexpr int kListId = 4;
constexpr int kStatusId = 5;
constexpr int kMenuPlay = 101;
constexpr int kMenuDownload = 102;
constexpr int kMenuCopyAddress = 103;

HWND g_main = nullptr;
HWND g_edit = nullptr;
HWND g_list = nullptr;
HWND g_status = nullptr;
HFONT g_font = nullptr;
WNDPROC g_editProc = nullptr;

void SetPane(int pane, const std::wstring& text) {
    SendMessageW(g_status, SB_SETTEXTW, pane, reinterpret_cast<LPARAM>(text.c_str()));
}

std::wstring WindowText(HWND hwnd) {
    std::wstring text(GetWindowTextLengthW(hwnd) + 1, L'\0');
    text.resize(GetWindowTextW(hwnd, text.data(), static_cast<int>(text.size())));
    return text;
}

int SelectedRow() {
    return ListView_GetNextItem(g_list, -1, LVNI_SELECTED);
}

std::wstring CellText(int row, int column) {
    wchar_t buffer[512] = {};
    ListView_GetItemText(g_list, row, column, buffer, 512);
    return buffer;
}

void PutOnClipboard(const std::wstring& text) {
    if (!OpenClipboard(g_main)) return;
    EmptyClipboard();
    const size_t bytes = (text.size() + 1) * sizeof(wchar_t);
    if (HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE, bytes)) {
        memcpy(GlobalLock(memory), text.c_str(), bytes);
        GlobalUnlock(memory);
        if (!SetClipboardData(CF_UNICODETEXT, memory)) GlobalFree(memory);
    }
    CloseClipboard();
}

// The keyword "box" answers with a message box, as a search that finds nothing does.
void Search() {
    const std::wstring keyword = WindowText(g_edit);
    if (keyword == L"box") {
        MessageBoxW(g_main, L"没有找到", L"搜索", MB_OK);
        SetPane(0, L"box answered");
        return;
    }
    SetPane(0, keyword);
}

// Enter in the edit box searches, as the program's key-down handler does.
LRESULT CALLBACK EditProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_KEYDOWN && wParam == VK_RETURN) {
        Search();
        return 0;
    }
    if (message == WM_CHAR && wParam == L'\r') return 0;  // no beep for the Enter character
    return CallWindowProcW(g_editProc, hwnd, message, wParam, lParam);
}

HWND AddControl(const wchar_t* className, const wchar_t* text, DWORD style, int x, int y, int width,
                int height, int id) {
    HWND control = CreateWindowExW(
        0, className, text, WS_CHILD | WS_VISIBLE | style, x, y, width, height, g_main,
        reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), GetModuleHandleW(nullptr), nullptr);
    SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(g_font), TRUE);
    return control;
}

void CreateList() {
    g_list =
        AddControl(WC_LISTVIEWW, L"", LVS_REPORT | LVS_SHOWSELALWAYS | LVS_SINGLESEL | WS_BORDER, 5,
                   72, 803, 360, kListId);
    ListView_SetExtendedListViewStyle(g_list, LVS_EX_FULLROWSELECT | LVS_EX_GRIDLINES);
    struct Column {
        const wchar_t* header;
        int width;
        int format;
    };
    const Column columns[] = {{L"序号", 50, LVCFMT_LEFT},
                              {L"音乐标题", 200, LVCFMT_LEFT},
                              {L"歌手", 150, LVCFMT_LEFT},
                              {L"时长", 50, LVCFMT_CENTER},
                              {L"下载地址", 300, LVCFMT_LEFT}};
    for (int i = 0; i < 5; ++i) {
        LVCOLUMNW column = {};
        column.mask = LVCF_TEXT | LVCF_WIDTH | LVCF_FMT;
        column.fmt = columns[i].format;
        column.cx = columns[i].width;
        column.pszText = const_cast<wchar_t*>(columns[i].header);
        ListView_InsertColumn(g_list, i, &column);
    }
    const wchar_t* rows[][5] = {
        {L"1", L"晴天", L"周杰伦", L"04:29", L"http://127.0.0.1:8080/song/1.mp3"},
        {L"2", L"Yesterday", L"The Beatles", L"02:05", L"http://127.0.0.1:8080/song/2.mp3"},
    };
    for (int row = 0; row < 2; ++row) {
        LVITEMW item = {};
        item.mask = LVIF_TEXT;
        item.iItem = row;
        item.pszText = const_cast<wchar_t*>(rows[row][0]);
        ListView_InsertItem(g_list, &item);
        for (int column = 1; column < 5; ++column) {
            ListView_SetItemText(g_list, row, column, const_cast<wchar_t*>(rows[row][column]));
        }
    }
}

void CreateStatusBar() {
    g_status =
        CreateWindowExW(0, STATUSCLASSNAMEW, L"", WS_CHILD | WS_VISIBLE, 2, 413, 808, 24, g_main,
                        reinterpret_cast<HMENU>(kStatusId), GetModuleHandleW(nullptr), nullptr);
    SendMessageW(g_status, WM_SETFONT, reinterpret_cast<WPARAM>(g_font), TRUE);
    const int rightEdges[] = {130, 300, 600, 800};
    SendMessageW(g_status, SB_SETPARTS, 4, reinterpret_cast<LPARAM>(rightEdges));
    SetPane(0, L"状态：");
    SetPane(1, L"下载速度：");
    SetPane(2, L"");
    SetPane(3, L"By：Quenby");
}

void ShowListMenu() {
    HMENU menu = CreatePopupMenu();
    AppendMenuW(menu, MF_STRING, kMenuPlay, L"播放");
    AppendMenuW(menu, MF_STRING, kMenuDownload, L"下载");
    AppendMenuW(menu, MF_STRING, kMenuCopyAddress, L"复制下载地址");
    POINT at;
    GetCursorPos(&at);
    TrackPopupMenu(menu, TPM_LEFTALIGN | TPM_RIGHTBUTTON, at.x, at.y, 0, g_main, nullptr);
    DestroyMenu(menu);
}

void OnMenuCommand(int id) {
    switch (id) {
        case kMenuPlay:
            SetPane(2, L"播放");
            break;
        case kMenuDownload:
            SetPane(2, L"下载");
            break;
        case kMenuCopyAddress: {
            const int row = SelectedRow();
            PutOnClipboard(row < 0 ? L"no-row" : CellText(row, 4));
            SetPane(2, L"复制下载地址");
            break;
        }
    }
}

void AskSaveDirectory() {
    const int answer = MessageBoxW(g_main, L"选择保存目录", L"提示", MB_OKCANCEL);
    SetPane(1, answer == IDOK ? L"OK" : L"取消");
}

LRESULT CALLBACK MainProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_COMMAND:
            if (LOWORD(wParam) == kSearchButtonId && HIWORD(wParam) == BN_CLICKED) {
                Search();
            } else if (LOWORD(wParam) == kSaveDirLabelId && HIWORD(wParam) == STN_CLICKED) {
                AskSaveDirectory();
            } else if (lParam == 0) {
                OnMenuCommand(LOWORD(wParam));
            }
            return 0;
        case WM_NOTIFY: {
            const auto* header = reinterpret_cast<const NMHDR*>(lParam);
            if (header->idFrom == kListId && header->code == NM_RCLICK) {
                ShowListMenu();
            } else if (header->idFrom == kListId && header->code == NM_DBLCLK) {
                SetPane(2, L"双击 " + std::to_wstring(SelectedRow()));
            }
            return 0;
        }
        case WM_CTLCOLORSTATIC:
            if (GetDlgCtrlID(reinterpret_cast<HWND>(lParam)) == kSaveDirLabelId) {
                HDC dc = reinterpret_cast<HDC>(wParam);
                SetTextColor(dc, RGB(255, 0, 0));
                SetBkMode(dc, TRANSPARENT);
                return reinterpret_cast<LRESULT>(GetSysColorBrush(COLOR_BTNFACE));
            }
            break;
        case WM_DESTROY:
            PostQuitMessage(0);
            return 0;
    }
    return DefWindowProcW(hwnd, message, wParam, lParam);
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int show) {
    INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_LISTVIEW_CLASSES | ICC_BAR_CLASSES};
    InitCommonControlsEx(&controls);
    // Controls show Chinese only with a CJK font chosen explicitly; 9 points, the usual size.
    g_font = CreateFontW(-12, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, GB2312_CHARSET,
                         OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                         DEFAULT_PITCH | FF_DONTCARE, L"SimSun");

    WNDCLASSEXW windowClass = {};
    windowClass.cbSize = sizeof windowClass;
    windowClass.lpfnWndProc = MainProc;
    windowClass.hInstance = instance;
    windowClass.hCursor = LoadCursorW(nullptr, MAKEINTRESOURCEW(32512));
    windowClass.hbrBackground = GetSysColorBrush(COLOR_BTNFACE);
    windowClass.lpszClassName = L"TesselUiFixture";
    if (!RegisterClassExW(&windowClass)) return 2;

    g_main =
        CreateWindowExW(0, windowClass.lpszClassName, L"Tessel音乐搜索下载器", WS_OVERLAPPEDWINDOW,
                        50, 50, 811, 498, nullptr, nullptr, instance, nullptr);
    if (!g_main) return 3;
    g_edit =
        AddControl(L"Edit", L"", WS_BORDER | ES_AUTOHSCROLL | WS_TABSTOP, 8, 9, 507, 32, kEditId);
    g_editProc = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrW(g_edit, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(EditProc)));
    AddControl(L"Button", L"搜索", BS_PUSHBUTTON | WS_TABSTOP, 523, 9, 88, 32, kSearchButtonId);
    AddControl(L"Static", L"设置目录", SS_NOTIFY, 616, 16, 48, 24, kSaveDirLabelId);
    CreateList();
    CreateStatusBar();
    ShowWindow(g_main, show);
    UpdateWindow(g_main);

    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    DeleteObject(g_font);
    return static_cast<int>(message.wParam);
}

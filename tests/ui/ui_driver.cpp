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

#include <algorithm>
#include <cstdio>
#include <cwchar>
#include <functional>
#include <string>
#include <vector>

namespace {

enum ExitCode { kOk = 0, kUsage = 1, kNotFound = 2, kFailed = 3, kTimedOut = 4 };

// --- output ------------------------------------------------------------------------------

std::string ToUtf8(const std::wstring& text) {
    if (text.empty()) return {};
    const int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                         nullptr, 0, nullptr, nullptr);
    std::string bytes(size, '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), bytes.data(), size,
                        nullptr, nullptr);
    return bytes;
}

void WriteTo(DWORD stream, const std::wstring& line) {
    const std::string bytes = ToUtf8(line + L"\n");
    DWORD written = 0;
    WriteFile(GetStdHandle(stream), bytes.data(), static_cast<DWORD>(bytes.size()), &written,
              nullptr);
}

void Print(const std::wstring& line) {
    WriteTo(STD_OUTPUT_HANDLE, line);
}

int Fail(int code, const std::wstring& message) {
    WriteTo(STD_ERROR_HANDLE, L"tessel-ui-driver: " + message);
    return code;
}

std::wstring Quote(const std::wstring& text) {
    std::wstring quoted = L"\"";
    for (wchar_t c : text) {
        switch (c) {
            case L'\\':
                quoted += L"\\\\";
                break;
            case L'"':
                quoted += L"\\\"";
                break;
            case L'\n':
                quoted += L"\\n";
                break;
            case L'\r':
                quoted += L"\\r";
                break;
            case L'\t':
                quoted += L"\\t";
                break;
            default:
                if (c < 0x20) {
                    wchar_t escape[8];
                    swprintf(escape, 8, L"\\x%02X", static_cast<unsigned>(c));
                    quoted += escape;
                } else {
                    quoted += c;
                }
        }
    }
    return quoted + L"\"";
}

std::wstring Hex(HWND hwnd) {
    wchar_t text[16];
    swprintf(text, 16, L"0x%08lX", static_cast<unsigned long>(reinterpret_cast<UINT_PTR>(hwnd)));
    return text;
}

std::wstring Rect(const RECT& r) {
    return std::to_wstring(r.left) + L"," + std::to_wstring(r.top) + L"," +
           std::to_wstring(r.right - r.left) + L"," + std::to_wstring(r.bottom - r.top);
}

// --- command line ------------------------------------------------------------------------

struct Options {
    std::wstring command;
    std::vector<std::wstring> arguments;  // the words that are not options
    DWORD timeoutMs = 10000;
    std::wstring desktop;
    std::wstring title;
    bool hasTitle = false;
    std::wstring className;
    std::wstring text;
    bool hasText = false;
    int id = -1;
    HWND hwnd = nullptr;
    int pid = -1;
    std::wstring windowClass;
    int nth = 0;
    int pane = -1;
    int row = -1;
    int column = 0;
    int x = -1;
    int y = -1;
    bool noWait = false;
    bool waitExit = false;
};

bool ParseNumber(const std::wstring& word, int* value) {
    if (word.empty()) return false;
    // Decimal, or hexadecimal after 0x (window handles as printed).
    const bool hex = word.size() > 2 && word[0] == L'0' && (word[1] == L'x' || word[1] == L'X');
    wchar_t* end = nullptr;
    const long long number = wcstoll(word.c_str(), &end, hex ? 16 : 10);
    if (*end != L'\0') return false;
    *value = static_cast<int>(number);
    return true;
}

// TESSEL_WAIT_SCALE: how many times longer every wait may take here (1 to 100; 1 when unset or
// not a number in that range).
DWORD WaitScale() {
    wchar_t text[16] = {};
    const DWORD length = GetEnvironmentVariableW(L"TESSEL_WAIT_SCALE", text, 16);
    if (length == 0 || length >= 16) return 1;
    int scale = 0;
    if (!ParseNumber(text, &scale) || scale < 1 || scale > 100) return 1;
    return static_cast<DWORD>(scale);
}

bool ParseOptions(int argc, wchar_t** argv, Options* options, std::wstring* error) {
    for (int i = 1; i < argc; ++i) {
        const std::wstring word = argv[i];
        const auto value = [&](std::wstring* out) {
            if (i + 1 >= argc) return false;
            *out = argv[++i];
            return true;
        };
        const auto number = [&](int* out) {
            std::wstring text;
            return value(&text) && ParseNumber(text, out);
        };
        bool ok = true;
        if (word == L"--timeout-ms") {
            int ms = 0;
            ok = number(&ms) && ms >= 0;
            options->timeoutMs = static_cast<DWORD>(ms);
        } else if (word == L"--desktop") {
            ok = value(&options->desktop);
        } else if (word == L"--title") {
            ok = options->hasTitle = value(&options->title);
        } else if (word == L"--hwnd") {
            int handle = 0;
            ok = number(&handle) && handle != 0;
            options->hwnd = reinterpret_cast<HWND>(static_cast<INT_PTR>(handle));
        } else if (word == L"--pid") {
            ok = number(&options->pid);
        } else if (word == L"--window-class") {
            ok = value(&options->windowClass);
        } else if (word == L"--class") {
            ok = value(&options->className);
        } else if (word == L"--text") {
            ok = options->hasText = value(&options->text);
        } else if (word == L"--id") {
            ok = number(&options->id);
        } else if (word == L"--nth") {
            ok = number(&options->nth);
        } else if (word == L"--pane") {
            ok = number(&options->pane);
        } else if (word == L"--row") {
            ok = number(&options->row);
        } else if (word == L"--column") {
            ok = number(&options->column);
        } else if (word == L"--x") {
            ok = number(&options->x);
        } else if (word == L"--y") {
            ok = number(&options->y);
        } else if (word == L"--no-wait") {
            options->noWait = true;
        } else if (word == L"--wait-exit") {
            options->waitExit = true;
        } else if (word == L"--") {
            for (++i; i < argc; ++i) options->arguments.push_back(argv[i]);
        } else if (word.size() > 2 && word.compare(0, 2, L"--") == 0) {
            *error = L"unknown option " + word;
            return false;
        } else {
            options->arguments.push_back(word);
        }
        if (!ok) {
            *error = L"option " + word + L" needs a valid value";
            return false;
        }
    }
    // The command is the first word that is not an option; options may come before it.
    if (options->arguments.empty()) {
        *error = L"no command";
        return false;
    }
    options->command = options->arguments.front();
    options->arguments.erase(options->arguments.begin());
    options->timeoutMs *= WaitScale();
    return true;
}

// --- waiting and windows -----------------------------------------------------------------

constexpr DWORD kPollMs = 50;
// How long a message to another process's window may take before it counts as hung.
UINT MessageTimeoutMs() { return 5000 * WaitScale(); }

// Calls `probe` until it answers true or the time is up; answers whether it did.
bool WaitFor(DWORD timeoutMs, const std::function<bool()>& probe) {
    const DWORD start = GetTickCount();
    for (;;) {
        if (probe()) return true;
        if (GetTickCount() - start >= timeoutMs) return false;
        Sleep(kPollMs);
    }
}

std::wstring ClassOf(HWND hwnd) {
    wchar_t name[256] = {};
    GetClassNameW(hwnd, name, 256);
    return name;
}

// The text through WM_GETTEXT (other processes' controls answer it; the cross-process call is
// marshalled by the system).
std::wstring TextOf(HWND hwnd) {
    DWORD_PTR length = 0;
    if (!SendMessageTimeoutW(hwnd, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, MessageTimeoutMs(),
                             &length)) {
        return {};
    }
    std::wstring text(length + 1, L'\0');
    DWORD_PTR copied = 0;
    SendMessageTimeoutW(hwnd, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()),
                        SMTO_ABORTIFHUNG, MessageTimeoutMs(), &copied);
    text.resize(copied);
    return text;
}

BOOL CALLBACK CollectWindow(HWND hwnd, LPARAM list) {
    reinterpret_cast<std::vector<HWND>*>(list)->push_back(hwnd);
    return TRUE;
}

std::vector<HWND> TopWindows() {
    std::vector<HWND> windows;
    EnumWindows(CollectWindow, reinterpret_cast<LPARAM>(&windows));
    return windows;
}

std::vector<HWND> Descendants(HWND top) {
    std::vector<HWND> windows;
    EnumChildWindows(top, CollectWindow, reinterpret_cast<LPARAM>(&windows));
    return windows;
}

bool HasWindowFilter(const Options& options) {
    return options.hasTitle || options.hwnd || options.pid >= 0 || !options.windowClass.empty();
}

// Whether a top-level window passes --title, --hwnd, --pid and --window-class.
bool MatchesTop(HWND hwnd, const Options& options) {
    if (options.hwnd && hwnd != options.hwnd) return false;
    if (options.hasTitle) {
        wchar_t text[512] = {};
        GetWindowTextW(hwnd, text, 512);
        if (options.title != text) return false;
    }
    if (options.pid >= 0) {
        DWORD pid = 0;
        GetWindowThreadProcessId(hwnd, &pid);
        if (pid != static_cast<DWORD>(options.pid)) return false;
    }
    return options.windowClass.empty() ||
           lstrcmpiW(ClassOf(hwnd).c_str(), options.windowClass.c_str()) == 0;
}

HWND FindTop(const Options& options) {
    HWND hidden = nullptr;
    for (HWND hwnd : TopWindows()) {
        if (!MatchesTop(hwnd, options)) continue;
        if (IsWindowVisible(hwnd)) return hwnd;
        if (!hidden) hidden = hwnd;
    }
    return hidden;
}

HWND WaitTop(const Options& options) {
    HWND found = nullptr;
    WaitFor(options.timeoutMs, [&] { return (found = FindTop(options)) != nullptr; });
    return found;
}

HWND FindControl(HWND top, const Options& options) {
    int seen = 0;
    for (HWND hwnd : Descendants(top)) {
        if (!options.className.empty() &&
            lstrcmpiW(ClassOf(hwnd).c_str(), options.className.c_str()) != 0) {
            continue;
        }
        if (options.id >= 0 && GetDlgCtrlID(hwnd) != options.id) continue;
        if (options.hasText && TextOf(hwnd) != options.text) continue;
        if (seen++ == options.nth) return hwnd;
    }
    return nullptr;
}

// The top window by title, then the control, each waited for.
int FindTarget(const Options& options, HWND* top, HWND* control) {
    if (!HasWindowFilter(options))
        return Fail(kUsage, L"--title (or --hwnd, --pid, --window-class) is required");
    *top = WaitTop(options);
    if (!*top) return Fail(kNotFound, L"no such window (title " + Quote(options.title) + L")");
    if (!control) return kOk;
    if (options.className.empty()) return Fail(kUsage, L"--class is required");
    WaitFor(options.timeoutMs, [&] { return (*control = FindControl(*top, options)) != nullptr; });
    if (!*control) return Fail(kNotFound, L"no control of class " + options.className + L" found");
    return kOk;
}

// --- memory in the target process --------------------------------------------------------

// A block of memory in the process that owns a window, for messages that carry pointers.
class RemoteBlock {
  public:
    RemoteBlock(HWND owner, size_t size, DWORD protection = PAGE_READWRITE) : size_(size) {
        DWORD pid = 0;
        GetWindowThreadProcessId(owner, &pid);
        process_ = OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE |
                                   PROCESS_QUERY_INFORMATION | PROCESS_CREATE_THREAD | SYNCHRONIZE,
                               FALSE, pid);
        if (process_) {
            address_ =
                VirtualAllocEx(process_, nullptr, size, MEM_COMMIT | MEM_RESERVE, protection);
        }
    }
    ~RemoteBlock() {
        if (address_) VirtualFreeEx(process_, address_, 0, MEM_RELEASE);
        if (process_) CloseHandle(process_);
    }
    RemoteBlock(const RemoteBlock&) = delete;
    RemoteBlock& operator=(const RemoteBlock&) = delete;

    bool ok() const { return address_ != nullptr; }
    // Leaves the memory to the target process, for a remote thread that may still use it.
    void Abandon() { address_ = nullptr; }
    HANDLE process() const { return process_; }
    // The address of `offset` inside the block, as the target process sees it.
    void* at(size_t offset = 0) const { return static_cast<char*>(address_) + offset; }
    bool Write(const void* data, size_t size, size_t offset = 0) const {
        SIZE_T done = 0;
        return offset + size <= size_ &&
               WriteProcessMemory(process_, at(offset), data, size, &done) && done == size;
    }
    bool Read(void* data, size_t size, size_t offset = 0) const {
        SIZE_T done = 0;
        return offset + size <= size_ &&
               ReadProcessMemory(process_, at(offset), data, size, &done) && done == size;
    }
    std::wstring ReadText(size_t offset, size_t maxChars) const {
        std::wstring text(maxChars, L'\0');
        if (!Read(text.data(), maxChars * sizeof(wchar_t), offset)) return {};
        text.resize(wcsnlen(text.c_str(), maxChars));
        return text;
    }

  private:
    HANDLE process_ = nullptr;
    void* address_ = nullptr;
    size_t size_;
};

LRESULT Send(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    DWORD_PTR result = 0;
    SendMessageTimeoutW(hwnd, message, wParam, lParam, SMTO_ABORTIFHUNG, MessageTimeoutMs(),
                        &result);
    return static_cast<LRESULT>(result);
}

constexpr size_t kTextChars = 1024;

// --- list views --------------------------------------------------------------------------

struct ListColumn {
    int width = 0;
    int format = 0;
    std::wstring header;
};

std::vector<ListColumn> ListColumns(HWND list, const RemoteBlock& block) {
    std::vector<ListColumn> columns;
    const size_t textOffset = sizeof(LVCOLUMNW);
    for (int index = 0; index < 256; ++index) {
        LVCOLUMNW column = {};
        column.mask = LVCF_TEXT | LVCF_WIDTH | LVCF_FMT;
        column.pszText = static_cast<wchar_t*>(block.at(textOffset));
        column.cchTextMax = kTextChars;
        const wchar_t empty = 0;
        if (!block.Write(&column, sizeof column) ||
            !block.Write(&empty, sizeof empty, textOffset)) {
            break;
        }
        if (!Send(list, LVM_GETCOLUMNW, index, reinterpret_cast<LPARAM>(block.at()))) break;
        block.Read(&column, sizeof column);
        columns.push_back({column.cx, column.fmt, block.ReadText(textOffset, kTextChars)});
    }
    return columns;
}

std::wstring CellText(HWND list, const RemoteBlock& block, int row, int column) {
    const size_t textOffset = sizeof(LVITEMW);
    LVITEMW item = {};
    item.iSubItem = column;
    item.pszText = static_cast<wchar_t*>(block.at(textOffset));
    item.cchTextMax = kTextChars;
    const wchar_t empty = 0;
    if (!block.Write(&item, sizeof item) || !block.Write(&empty, sizeof empty, textOffset)) {
        return {};
    }
    Send(list, LVM_GETITEMTEXTW, row, reinterpret_cast<LPARAM>(block.at()));
    return block.ReadText(textOffset, kTextChars);
}

const wchar_t* AlignmentName(int format) {
    switch (format & LVCFMT_JUSTIFYMASK) {
        case LVCFMT_RIGHT:
            return L"right";
        case LVCFMT_CENTER:
            return L"center";
        default:
            return L"left";
    }
}

bool DumpList(HWND list) {
    RemoteBlock block(list, sizeof(LVCOLUMNW) + sizeof(LVITEMW) + kTextChars * sizeof(wchar_t));
    if (!block.ok()) return false;
    const std::vector<ListColumn> columns = ListColumns(list, block);
    Print(L"columns count=" + std::to_wstring(columns.size()));
    for (size_t i = 0; i < columns.size(); ++i) {
        Print(L"column index=" + std::to_wstring(i) + L" width=" +
              std::to_wstring(columns[i].width) + L" align=" + AlignmentName(columns[i].format) +
              L" text=" + Quote(columns[i].header));
    }
    const int rows = static_cast<int>(Send(list, LVM_GETITEMCOUNT, 0, 0));
    Print(L"rows count=" + std::to_wstring(rows));
    Print(L"page rows=" + std::to_wstring(Send(list, LVM_GETCOUNTPERPAGE, 0, 0)));
    const size_t cellCount = columns.empty() ? 1 : columns.size();
    for (int row = 0; row < rows; ++row) {
        std::wstring line = L"row index=" + std::to_wstring(row) + L" cells=";
        for (size_t column = 0; column < cellCount; ++column) {
            if (column) line += L",";
            line += Quote(CellText(list, block, row, static_cast<int>(column)));
        }
        Print(line);
    }
    return true;
}

// The centre of a row in the list's client coordinates.
bool RowCentre(HWND list, int row, POINT* centre) {
    RemoteBlock block(list, sizeof(RECT));
    RECT rect = {};
    rect.left = LVIR_LABEL;
    if (!block.ok() || !block.Write(&rect, sizeof rect) ||
        !Send(list, LVM_GETITEMRECT, row, reinterpret_cast<LPARAM>(block.at())) ||
        !block.Read(&rect, sizeof rect)) {
        return false;
    }
    *centre = {(rect.left + rect.right) / 2, (rect.top + rect.bottom) / 2};
    return true;
}

// --- status bars -------------------------------------------------------------------------

struct Pane {
    int right = 0;
    std::wstring text;
};

std::vector<Pane> StatusPanes(HWND bar) {
    std::vector<Pane> panes;
    constexpr int kMaxPanes = 256;
    RemoteBlock block(bar, kMaxPanes * sizeof(int) + kTextChars * sizeof(wchar_t));
    if (!block.ok()) return panes;
    const int count =
        static_cast<int>(Send(bar, SB_GETPARTS, kMaxPanes, reinterpret_cast<LPARAM>(block.at())));
    std::vector<int> rights(count > 0 ? count : 0);
    if (count > 0) block.Read(rights.data(), rights.size() * sizeof(int));
    const size_t textOffset = kMaxPanes * sizeof(int);
    for (int i = 0; i < count; ++i) {
        const LRESULT length = Send(bar, SB_GETTEXTLENGTHW, i, 0);
        std::wstring text;
        if (LOWORD(length) < kTextChars) {
            const wchar_t empty = 0;
            block.Write(&empty, sizeof empty, textOffset);
            Send(bar, SB_GETTEXTW, i, reinterpret_cast<LPARAM>(block.at(textOffset)));
            text = block.ReadText(textOffset, kTextChars);
        }
        panes.push_back({rights[i], text});
    }
    return panes;
}

void DumpStatusBar(HWND bar) {
    const std::vector<Pane> panes = StatusPanes(bar);
    Print(L"panes count=" + std::to_wstring(panes.size()));
    int left = 0;
    for (size_t i = 0; i < panes.size(); ++i) {
        RECT barRect = {};
        GetClientRect(bar, &barRect);
        const int right = panes[i].right < 0 ? barRect.right : panes[i].right;
        Print(L"pane index=" + std::to_wstring(i) + L" width=" + std::to_wstring(right - left) +
              L" right=" + std::to_wstring(panes[i].right) + L" text=" + Quote(panes[i].text));
        left = right;
    }
}

// --- commands ----------------------------------------------------------------------------

std::wstring WindowRecord(HWND top) {
    DWORD pid = 0;
    GetWindowThreadProcessId(top, &pid);
    RECT outer = {};
    RECT client = {};
    GetWindowRect(top, &outer);
    GetClientRect(top, &client);
    return L"window hwnd=" + Hex(top) + L" pid=" + std::to_wstring(pid) + L" title=" +
           Quote(TextOf(top)) + L" rect=" + Rect(outer) + L" client=" +
           std::to_wstring(client.right) + L"," + std::to_wstring(client.bottom);
}

int CommandDump(const Options& options) {
    HWND top = nullptr;
    if (int code = FindTarget(options, &top, nullptr)) return code;
    Print(WindowRecord(top));
    for (HWND control : Descendants(top)) {
        RECT rect = {};
        GetWindowRect(control, &rect);
        MapWindowPoints(nullptr, top, reinterpret_cast<POINT*>(&rect), 2);
        const std::wstring className = ClassOf(control);
        Print(L"control hwnd=" + Hex(control) + L" class=" + className + L" id=" +
              std::to_wstring(GetDlgCtrlID(control)) + L" rect=" + Rect(rect) + L" visible=" +
              (IsWindowVisible(control) ? L"1" : L"0") + L" enabled=" +
              (IsWindowEnabled(control) ? L"1" : L"0") + L" text=" + Quote(TextOf(control)));
        if (lstrcmpiW(className.c_str(), WC_LISTVIEWW) == 0) {
            if (!DumpList(control)) return Fail(kFailed, L"cannot read the list's memory");
        } else if (lstrcmpiW(className.c_str(), STATUSCLASSNAMEW) == 0) {
            DumpStatusBar(control);
        }
    }
    return kOk;
}

// The control's text, a status pane's (--pane) or a list cell's (--row, --column).
std::wstring ControlText(HWND control, const Options& options) {
    if (options.row >= 0) {
        RemoteBlock block(control, sizeof(LVITEMW) + kTextChars * sizeof(wchar_t));
        return block.ok() ? CellText(control, block, options.row, options.column) : std::wstring();
    }
    if (options.pane < 0) return TextOf(control);
    const std::vector<Pane> panes = StatusPanes(control);
    return options.pane < static_cast<int>(panes.size()) ? panes[options.pane].text
                                                         : std::wstring();
}

int CommandGetText(const Options& options) {
    HWND top = nullptr;
    HWND control = nullptr;
    if (int code = FindTarget(options, &top, &control)) return code;
    Print(ControlText(control, options));
    return kOk;
}

int CommandWaitText(const Options& options) {
    if (options.arguments.size() != 1) return Fail(kUsage, L"wait-text needs the expected text");
    HWND top = nullptr;
    HWND control = nullptr;
    if (int code = FindTarget(options, &top, &control)) return code;
    std::wstring last;
    if (WaitFor(options.timeoutMs, [&] {
            last = ControlText(control, options);
            return last == options.arguments[0];
        })) {
        return kOk;
    }
    return Fail(kTimedOut, L"text is " + Quote(last) + L", not " + Quote(options.arguments[0]));
}

int CommandSetText(const Options& options) {
    if (options.arguments.size() != 1) return Fail(kUsage, L"set-text needs the text");
    HWND top = nullptr;
    HWND control = nullptr;
    if (int code = FindTarget(options, &top, &control)) return code;
    DWORD_PTR result = 0;
    if (!SendMessageTimeoutW(control, WM_SETTEXT, 0,
                             reinterpret_cast<LPARAM>(options.arguments[0].c_str()),
                             SMTO_ABORTIFHUNG, MessageTimeoutMs(), &result) ||
        !result) {
        return Fail(kFailed, L"WM_SETTEXT was refused");
    }
    return kOk;
}

// A point in the control's client area: --x/--y, a list row's centre, or the control's centre.
bool TargetPoint(HWND control, const Options& options, POINT* point) {
    if (options.x >= 0 && options.y >= 0) {
        *point = {options.x, options.y};
        return true;
    }
    if (options.row >= 0) return RowCentre(control, options.row, point);
    RECT client = {};
    GetClientRect(control, &client);
    *point = {client.right / 2, client.bottom / 2};
    return true;
}

void PostMouse(HWND control, UINT message, WPARAM keys, POINT at) {
    PostMessageW(control, message, keys, MAKELPARAM(at.x, at.y));
}

DWORD WINAPI SendClick(LPVOID button) {
    DWORD_PTR result = 0;
    SendMessageTimeoutW(static_cast<HWND>(button), BM_CLICK, 0, 0, SMTO_NORMAL, INFINITE, &result);
    return 0;
}

bool HasDialogOf(DWORD pid) {
    for (HWND hwnd : TopWindows()) {
        DWORD owner = 0;
        GetWindowThreadProcessId(hwnd, &owner);
        if (owner == pid && IsWindowVisible(hwnd) && ClassOf(hwnd) == L"#32770") return true;
    }
    return false;
}

// BM_CLICK is sent, so the handler has run when it returns; a handler that opens a dialog box
// (a message box) does not return until the box is answered, so the click also ends when a box
// of the program's appears. The sending thread is left behind then: it ends with the driver.
int ClickButton(HWND button, const Options& options) {
    DWORD pid = 0;
    GetWindowThreadProcessId(button, &pid);
    const bool hadDialog = HasDialogOf(pid);
    HANDLE sender = CreateThread(nullptr, 0, SendClick, button, 0, nullptr);
    if (!sender) return Fail(kFailed, L"cannot start the sending thread");
    bool dialog = false;
    const bool done = WaitFor(options.timeoutMs, [&] {
        if (WaitForSingleObject(sender, 0) == WAIT_OBJECT_0) return true;
        dialog = !hadDialog && HasDialogOf(pid);
        return dialog;
    });
    CloseHandle(sender);
    if (dialog) {
        WriteTo(STD_ERROR_HANDLE, L"tessel-ui-driver: click: the handler opened a dialog box");
    } else if (!done) {
        WriteTo(STD_ERROR_HANDLE, L"tessel-ui-driver: click: the handler is still running");
    }
    return kOk;
}

int CommandClick(const Options& options) {
    HWND top = nullptr;
    HWND control = nullptr;
    if (int code = FindTarget(options, &top, &control)) return code;
    if (lstrcmpiW(ClassOf(control).c_str(), L"Button") == 0) {
        if (options.noWait) {
            PostMessageW(control, BM_CLICK, 0, 0);
            return kOk;
        }
        return ClickButton(control, options);
    }
    POINT at = {};
    if (!TargetPoint(control, options, &at)) return Fail(kFailed, L"no such row");
    PostMouse(control, WM_MOUSEMOVE, 0, at);
    PostMouse(control, WM_LBUTTONDOWN, MK_LBUTTON, at);
    PostMouse(control, WM_LBUTTONUP, 0, at);
    return kOk;
}

int CommandMouse(const Options& options, bool right) {
    HWND top = nullptr;
    HWND control = nullptr;
    if (int code = FindTarget(options, &top, &control)) return code;
    POINT at = {};
    if (!TargetPoint(control, options, &at)) return Fail(kFailed, L"no such row");
    // Where the pointer would be, for handlers that ask for it (a popup menu's position).
    POINT screen = at;
    ClientToScreen(control, &screen);
    SetCursorPos(screen.x, screen.y);
    PostMouse(control, WM_MOUSEMOVE, 0, at);
    if (right) {
        PostMouse(control, WM_RBUTTONDOWN, MK_RBUTTON, at);
        // The button-up makes the control (or DefWindowProc) raise WM_CONTEXTMENU itself.
        PostMouse(control, WM_RBUTTONUP, 0, at);
    } else {
        PostMouse(control, WM_LBUTTONDOWN, MK_LBUTTON, at);
        PostMouse(control, WM_LBUTTONUP, 0, at);
        PostMouse(control, WM_LBUTTONDBLCLK, MK_LBUTTON, at);
        PostMouse(control, WM_LBUTTONUP, 0, at);
    }
    return kOk;
}

UINT VirtualKey(const std::wstring& name) {
    struct Named {
        const wchar_t* name;
        UINT key;
    };
    static constexpr Named kNames[] = {
        {L"RETURN", VK_RETURN}, {L"ENTER", VK_RETURN},  {L"ESCAPE", VK_ESCAPE}, {L"TAB", VK_TAB},
        {L"SPACE", VK_SPACE},   {L"UP", VK_UP},         {L"DOWN", VK_DOWN},     {L"LEFT", VK_LEFT},
        {L"RIGHT", VK_RIGHT},   {L"DELETE", VK_DELETE}, {L"BACK", VK_BACK},     {L"HOME", VK_HOME},
        {L"END", VK_END}};
    std::wstring upper = name;
    for (wchar_t& c : upper) c = towupper(c);
    if (upper.size() > 3 && upper.compare(0, 3, L"VK_") == 0) upper.erase(0, 3);
    for (const Named& named : kNames) {
        if (upper == named.name) return named.key;
    }
    if (upper.size() == 1 && (iswalpha(upper[0]) || iswdigit(upper[0]))) return upper[0];
    int function = 0;
    if (upper.size() >= 2 && upper[0] == L'F' && ParseNumber(upper.substr(1), &function) &&
        function >= 1 && function <= 12) {
        return VK_F1 + function - 1;
    }
    int number = 0;
    if (ParseNumber(name, &number) && number > 0 && number < 256) return number;
    return 0;
}

void PostKey(HWND target, UINT key) {
    const UINT scan = MapVirtualKeyW(key, MAPVK_VK_TO_VSC);
    PostMessageW(target, WM_KEYDOWN, key, 1 | (scan << 16));
    PostMessageW(target, WM_KEYUP, key, 1 | (scan << 16) | (3u << 30));
}

int CommandKey(const Options& options) {
    if (options.arguments.size() != 1) return Fail(kUsage, L"key needs a key name");
    const UINT key = VirtualKey(options.arguments[0]);
    if (!key) return Fail(kUsage, L"unknown key " + options.arguments[0]);
    HWND top = nullptr;
    HWND control = nullptr;
    if (int code = FindTarget(options, &top, &control)) return code;
    PostKey(control, key);
    return kOk;
}

int CommandSelectRow(Options options) {
    if (options.className.empty()) options.className = WC_LISTVIEWW;
    int row = 0;
    if (options.arguments.size() != 1 || !ParseNumber(options.arguments[0], &row)) {
        return Fail(kUsage, L"select-row needs a row number");
    }
    HWND top = nullptr;
    HWND list = nullptr;
    if (int code = FindTarget(options, &top, &list)) return code;
    RemoteBlock block(list, sizeof(LVITEMW));
    if (!block.ok()) return Fail(kFailed, L"cannot reach the list's memory");
    LVITEMW item = {};
    item.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
    // Clear every row, then select the one asked for.
    block.Write(&item, sizeof item);
    Send(list, LVM_SETITEMSTATE, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(block.at()));
    item.state = LVIS_SELECTED | LVIS_FOCUSED;
    block.Write(&item, sizeof item);
    if (!Send(list, LVM_SETITEMSTATE, row, reinterpret_cast<LPARAM>(block.at()))) {
        return Fail(kFailed, L"row " + std::to_wstring(row) + L" cannot be selected");
    }
    return kOk;
}

// --- popup menus -------------------------------------------------------------------------

struct MenuItem {
    UINT id = 0;
    UINT state = 0;
    bool separator = false;
    std::wstring text;
};

// The menu is read inside the process that owns it, by a routine copied there and run on a
// thread of its own: a menu handle cannot be read from another process under Wine. The routine
// calls only through the pointers it is given, so its code runs wherever it is placed; the system
// libraries sit at the same address in every process.
constexpr int kProbeItems = 32;
constexpr int kProbeChars = 128;
struct MenuProbe {
    int(WINAPI* getCount)(HMENU);
    UINT(WINAPI* getId)(HMENU, int);
    UINT(WINAPI* getState)(HMENU, UINT, UINT);
    int(WINAPI* getString)(HMENU, UINT, LPWSTR, int, UINT);
    HMENU menu;
    int count;
    UINT ids[kProbeItems];
    UINT states[kProbeItems];
    wchar_t texts[kProbeItems][kProbeChars];
};

__attribute__((noinline, optimize("no-tree-loop-distribute-patterns"))) DWORD WINAPI
ProbeMenu(LPVOID parameter) {
    MenuProbe* probe = static_cast<MenuProbe*>(parameter);
    int count = probe->getCount(probe->menu);
    probe->count = count;
    if (count > kProbeItems) count = kProbeItems;
    for (int i = 0; i < count; ++i) {
        probe->ids[i] = probe->getId(probe->menu, i);
        probe->states[i] = probe->getState(probe->menu, i, MF_BYPOSITION);
        probe->getString(probe->menu, i, probe->texts[i], kProbeChars, MF_BYPOSITION);
    }
    return 0;
}
constexpr size_t kProbeCodeBytes = 512;

std::vector<MenuItem> ItemsFromProbe(const MenuProbe& probe) {
    std::vector<MenuItem> items;
    for (int i = 0; i < probe.count && i < kProbeItems; ++i) {
        MenuItem item;
        item.id = probe.ids[i];
        item.state = probe.states[i];
        item.separator = (item.state & MF_SEPARATOR) != 0;
        item.text.assign(probe.texts[i], wcsnlen(probe.texts[i], kProbeChars));
        items.push_back(item);
    }
    return items;
}

bool ReadMenuHere(HMENU menu, std::vector<MenuItem>* items) {
    if (GetMenuItemCount(menu) < 0) return false;
    MenuProbe probe = {
        &GetMenuItemCount, &GetMenuItemID, &GetMenuState, &GetMenuStringW, menu, 0, {}, {}, {}};
    ProbeMenu(&probe);
    *items = ItemsFromProbe(probe);
    return true;
}

bool ReadMenuRemotely(HWND menuWindow, HMENU menu, DWORD timeoutMs, std::vector<MenuItem>* items) {
    RemoteBlock block(menuWindow, sizeof(MenuProbe) + kProbeCodeBytes, PAGE_EXECUTE_READWRITE);
    if (!block.ok()) return false;
    MenuProbe probe = {
        &GetMenuItemCount, &GetMenuItemID, &GetMenuState, &GetMenuStringW, menu, -1, {}, {}, {}};
    if (!block.Write(&probe, sizeof probe) ||
        !block.Write(reinterpret_cast<const void*>(&ProbeMenu), kProbeCodeBytes, sizeof probe)) {
        return false;
    }
    FlushInstructionCache(block.process(), block.at(sizeof probe), kProbeCodeBytes);
    HANDLE thread = CreateRemoteThread(
        block.process(), nullptr, 0,
        reinterpret_cast<LPTHREAD_START_ROUTINE>(block.at(sizeof probe)), block.at(), 0, nullptr);
    if (!thread) return false;
    const bool finished = WaitForSingleObject(thread, timeoutMs) == WAIT_OBJECT_0;
    CloseHandle(thread);
    if (!finished) {
        // The thread still runs in that memory: leave it allocated rather than pull it away.
        block.Abandon();
        return false;
    }
    if (!block.Read(&probe, sizeof probe) || probe.count < 0) return false;
    *items = ItemsFromProbe(probe);
    return true;
}

// What the threads of the visible windows are doing, for a menu that did not appear: whether one
// tracks a menu, or holds the mouse captured (a control waiting for its button to come up).
std::wstring GuiThreadsState() {
    std::wstring state;
    std::vector<DWORD> seen;
    for (HWND hwnd : TopWindows()) {
        if (!IsWindowVisible(hwnd)) continue;
        const DWORD thread = GetWindowThreadProcessId(hwnd, nullptr);
        if (std::find(seen.begin(), seen.end(), thread) != seen.end()) continue;
        seen.push_back(thread);
        GUITHREADINFO info{};
        info.cbSize = sizeof info;
        if (!GetGUIThreadInfo(thread, &info)) continue;
        state += L"\n  thread " + std::to_wstring(thread) + L" (" + ClassOf(hwnd) + L"):";
        if (info.flags & GUI_INMENUMODE) state += L" in-menu-mode";
        if (info.flags & GUI_POPUPMENUMODE) state += L" popup-menu-mode";
        if (info.flags & GUI_INMOVESIZE) state += L" move-size";
        state += L" active=" + Hex(info.hwndActive) + L" focus=" + Hex(info.hwndFocus) +
                 L" capture=" + Hex(info.hwndCapture);
        if (info.hwndCapture) state += L" (" + ClassOf(info.hwndCapture) + L")";
        if (info.hwndMenuOwner) state += L" menu-owner=" + Hex(info.hwndMenuOwner);
    }
    state += L"\n  foreground=" + Hex(GetForegroundWindow());
    return state;
}

HWND FindPopupMenu() {
    for (HWND hwnd : TopWindows()) {
        if (IsWindowVisible(hwnd) && ClassOf(hwnd) == L"#32768") return hwnd;
    }
    return nullptr;
}

int ReadOpenMenu(const Options& options, HWND* menuWindow, std::vector<MenuItem>* items) {
    WaitFor(options.timeoutMs, [&] { return (*menuWindow = FindPopupMenu()) != nullptr; });
    if (!*menuWindow) return Fail(kNotFound, L"no popup menu appeared:" + GuiThreadsState());
    HMENU menu = nullptr;
    // The menu may be shown before its handle is attached to the window.
    WaitFor(options.timeoutMs, [&] {
        menu = reinterpret_cast<HMENU>(Send(*menuWindow, MN_GETHMENU, 0, 0));
        return menu != nullptr;
    });
    if (!menu) return Fail(kFailed, L"the popup menu has no menu handle");
    if (!ReadMenuHere(menu, items) &&
        !ReadMenuRemotely(*menuWindow, menu, options.timeoutMs, items)) {
        return Fail(kFailed, L"cannot read the popup menu's items");
    }
    return kOk;
}

int CommandMenu(const Options& options) {
    HWND menuWindow = nullptr;
    std::vector<MenuItem> items;
    if (int code = ReadOpenMenu(options, &menuWindow, &items)) return code;
    Print(L"menu hwnd=" + Hex(menuWindow) + L" count=" + std::to_wstring(items.size()));
    for (size_t i = 0; i < items.size(); ++i) {
        const MenuItem& item = items[i];
        Print(L"item index=" + std::to_wstring(i) + L" id=" + std::to_wstring(item.id) +
              L" separator=" + (item.separator ? L"1" : L"0") + L" enabled=" +
              ((item.state & (MF_GRAYED | MF_DISABLED)) ? L"0" : L"1") + L" checked=" +
              ((item.state & MF_CHECKED) ? L"1" : L"0") + L" text=" + Quote(item.text));
    }
    return kOk;
}

int CommandMenuSelect(const Options& options) {
    if (options.arguments.size() != 1) return Fail(kUsage, L"menu-select needs the item's text");
    HWND menuWindow = nullptr;
    std::vector<MenuItem> items;
    if (int code = ReadOpenMenu(options, &menuWindow, &items)) return code;
    // The menu loop takes keys from its thread's queue: Down from no selection reaches the first
    // item, each further Down the next one that is not a separator.
    int steps = 0;
    for (const MenuItem& item : items) {
        if (item.separator) continue;
        ++steps;
        if (item.text == options.arguments[0]) {
            for (int i = 0; i < steps; ++i) PostKey(menuWindow, VK_DOWN);
            PostKey(menuWindow, VK_RETURN);
            if (!WaitFor(options.timeoutMs, [&] { return !IsWindowVisible(menuWindow); })) {
                return Fail(kTimedOut, L"the popup menu stayed open");
            }
            return kOk;
        }
    }
    PostKey(menuWindow, VK_ESCAPE);
    return Fail(kFailed, L"the popup menu has no item " + Quote(options.arguments[0]));
}

// --- dialog boxes ------------------------------------------------------------------------

HWND FindDialog(const Options& options) {
    for (HWND hwnd : TopWindows()) {
        if (!IsWindowVisible(hwnd) || ClassOf(hwnd) != L"#32770") continue;
        if (options.hasTitle && TextOf(hwnd) != options.title) continue;
        return hwnd;
    }
    return nullptr;
}

int WaitDialog(const Options& options, HWND* dialog) {
    WaitFor(options.timeoutMs, [&] { return (*dialog = FindDialog(options)) != nullptr; });
    return *dialog ? kOk : Fail(kNotFound, L"no dialog box appeared");
}

std::wstring WithoutAmpersands(std::wstring text) {
    std::erase(text, L'&');
    return text;
}

int CommandMessageBox(const Options& options) {
    HWND dialog = nullptr;
    if (int code = WaitDialog(options, &dialog)) return code;
    std::wstring message;
    std::vector<HWND> buttons;
    for (HWND child : Descendants(dialog)) {
        const std::wstring className = ClassOf(child);
        if (lstrcmpiW(className.c_str(), L"Static") == 0) {
            const std::wstring text = TextOf(child);
            if (!text.empty()) message += message.empty() ? text : L"\n" + text;
        } else if (lstrcmpiW(className.c_str(), L"Button") == 0 && IsWindowVisible(child)) {
            buttons.push_back(child);
        }
    }
    Print(L"dialog hwnd=" + Hex(dialog) + L" title=" + Quote(TextOf(dialog)) + L" text=" +
          Quote(message));
    for (HWND button : buttons) {
        Print(L"button id=" + std::to_wstring(GetDlgCtrlID(button)) + L" text=" +
              Quote(WithoutAmpersands(TextOf(button))));
    }
    return kOk;
}

int CommandPress(const Options& options) {
    if (options.arguments.size() != 1) return Fail(kUsage, L"press needs the button's text");
    HWND dialog = nullptr;
    if (int code = WaitDialog(options, &dialog)) return code;
    const std::wstring wanted = options.arguments[0];
    struct Alias {
        const wchar_t* name;
        int id;
    };
    static constexpr Alias kAliases[] = {
        {L"OK", IDOK}, {L"CANCEL", IDCANCEL}, {L"YES", IDYES}, {L"NO", IDNO}};
    int aliasId = -1;
    for (const Alias& alias : kAliases) {
        if (lstrcmpiW(wanted.c_str(), alias.name) == 0) aliasId = alias.id;
    }
    HWND chosen = nullptr;
    for (HWND child : Descendants(dialog)) {
        if (lstrcmpiW(ClassOf(child).c_str(), L"Button") != 0 || !IsWindowVisible(child)) continue;
        if (WithoutAmpersands(TextOf(child)) == wanted) {
            chosen = child;
            break;
        }
        if (!chosen && GetDlgCtrlID(child) == aliasId) chosen = child;
    }
    if (!chosen) return Fail(kFailed, L"the dialog box has no button " + Quote(wanted));
    PostMessageW(chosen, BM_CLICK, 0, 0);
    if (!WaitFor(options.timeoutMs,
                 [&] { return !IsWindow(dialog) || !IsWindowVisible(dialog); })) {
        return Fail(kTimedOut, L"the dialog box stayed open");
    }
    return kOk;
}

// The folder dialog takes a path as its owner's callback would give it (BFFM_SETSELECTIONW, the
// text in the dialog's own process), then its OK button, as a user picking that folder would.
int CommandChooseFolder(const Options& options) {
    if (options.arguments.size() != 1) return Fail(kUsage, L"choose-folder needs a path");
    HWND dialog = nullptr;
    WaitFor(options.timeoutMs, [&] {
        dialog = FindDialog(options);
        if (dialog == nullptr) return false;
        for (HWND child : Descendants(dialog))
            if (ClassOf(child) == L"SysTreeView32") return true;
        return false;
    });
    if (dialog == nullptr) return Fail(kNotFound, L"no folder dialog appeared");
    const std::wstring& path = options.arguments[0];
    RemoteBlock block(dialog, (path.size() + 1) * sizeof(wchar_t));
    if (!block.ok() || !block.Write(path.c_str(), (path.size() + 1) * sizeof(wchar_t)))
        return Fail(kFailed, L"cannot hand the path to the dialog's process");
    constexpr UINT kSetSelection = WM_USER + 103;  // BFFM_SETSELECTIONW
    Send(dialog, kSetSelection, TRUE, reinterpret_cast<LPARAM>(block.at()));
    HWND ok = GetDlgItem(dialog, IDOK);
    if (ok == nullptr) return Fail(kFailed, L"the folder dialog has no OK button");
    PostMessageW(ok, BM_CLICK, 0, 0);
    if (!WaitFor(options.timeoutMs, [&] { return !IsWindow(dialog) || !IsWindowVisible(dialog); }))
        return Fail(kTimedOut, L"the folder dialog stayed open");
    return kOk;
}

// --- clipboard, closing ------------------------------------------------------------------

int CommandClipboard(const Options& options) {
    // Another process may hold the clipboard open for a moment.
    if (!WaitFor(options.timeoutMs, [] { return OpenClipboard(nullptr) != FALSE; })) {
        return Fail(kFailed, L"the clipboard stays busy");
    }
    std::wstring text;
    bool found = false;
    if (HANDLE data = GetClipboardData(CF_UNICODETEXT)) {
        if (const auto* chars = static_cast<const wchar_t*>(GlobalLock(data))) {
            text.assign(chars, wcsnlen(chars, GlobalSize(data) / sizeof(wchar_t)));
            found = true;
            GlobalUnlock(data);
        }
    }
    CloseClipboard();
    if (!found) return Fail(kFailed, L"the clipboard holds no text");
    Print(text);
    return kOk;
}

int CommandClose(const Options& options) {
    HWND top = nullptr;
    if (int code = FindTarget(options, &top, nullptr)) return code;
    DWORD pid = 0;
    GetWindowThreadProcessId(top, &pid);
    HANDLE process = options.waitExit
                         ? OpenProcess(SYNCHRONIZE | PROCESS_QUERY_INFORMATION, FALSE, pid)
                         : nullptr;
    if (options.waitExit && !process) return Fail(kFailed, L"cannot open the window's process");
    PostMessageW(top, WM_CLOSE, 0, 0);
    if (!process) return kOk;
    const bool exited = WaitForSingleObject(process, options.timeoutMs) == WAIT_OBJECT_0;
    DWORD exitCode = 0;
    GetExitCodeProcess(process, &exitCode);
    CloseHandle(process);
    if (!exited) return Fail(kTimedOut, L"the process did not end");
    Print(L"exit-code=" + std::to_wstring(exitCode));
    return kOk;
}

int CommandWaitGone(const Options& options) {
    if (!HasWindowFilter(options)) return Fail(kUsage, L"--title is required");
    const bool gone = WaitFor(options.timeoutMs, [&] {
        HWND top = FindTop(options);
        return !top || !IsWindowVisible(top);
    });
    return gone ? kOk : Fail(kTimedOut, L"the window is still there");
}

int CommandWindows(const Options& options) {
    for (HWND hwnd : TopWindows()) {
        if (!MatchesTop(hwnd, options)) continue;
        DWORD pid = 0;
        GetWindowThreadProcessId(hwnd, &pid);
        RECT rect = {};
        GetWindowRect(hwnd, &rect);
        Print(L"top hwnd=" + Hex(hwnd) + L" pid=" + std::to_wstring(pid) + L" class=" +
              Quote(ClassOf(hwnd)) + L" visible=" + (IsWindowVisible(hwnd) ? L"1" : L"0") +
              L" rect=" + Rect(rect) + L" title=" + Quote(TextOf(hwnd)));
    }
    return kOk;
}

int CommandWaitWindow(const Options& options) {
    HWND top = nullptr;
    if (int code = FindTarget(options, &top, nullptr)) return code;
    Print(Hex(top));
    return kOk;
}

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

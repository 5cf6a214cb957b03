// facet.fnr: the report list (a list view in report view) and the status bar, created for the
// window system and driven by library commands on row 1, decoded by the window core's report
// commands.
#include <windows.h>
// After windows.h, which it needs.
#include <commctrl.h>

#include <cstring>
#include <string>
#include <vector>

#include "tessel/runtime/units.h"
#include "tessel/win32_shared/gbk_win32.h"
#include "tessel/win32_shared/library_abi.h"
#include "tessel/window_core/commands.h"
#include "tessel/window_core/unit_rules.h"

namespace {

using tessel::UnitRef;
using tessel::Value;
using namespace tessel::basalt;

const LibraryHost* g_host = nullptr;

using tessel::windows::ColumnAlignment;
static_assert(static_cast<int>(ColumnAlignment::kLeft) == LVCFMT_LEFT &&
              static_cast<int>(ColumnAlignment::kRight) == LVCFMT_RIGHT &&
              static_cast<int>(ColumnAlignment::kCentre) == LVCFMT_CENTER);

int ColumnFormat(std::uint32_t storedCode) {
    return static_cast<int>(tessel::windows::ColumnAlignmentOf(storedCode));
}

HWND CreateList(const FacetUnitPlacement& s) {
    HWND list = CreateWindowExW(
        WS_EX_CLIENTEDGE, WC_LISTVIEWW, s.name,
        WS_CHILD | WS_CLIPSIBLINGS | s.windowStyle | LVS_REPORT | LVS_SHOWSELALWAYS | LVS_SINGLESEL,
        s.left, s.top, s.width, s.height, static_cast<HWND>(s.parent),
        reinterpret_cast<HMENU>(static_cast<INT_PTR>(s.controlId)), GetModuleHandleW(nullptr),
        nullptr);
    if (list == nullptr) return nullptr;
    SendMessageW(list, WM_SETFONT, reinterpret_cast<WPARAM>(s.font), FALSE);
    ListView_SetExtendedListViewStyle(list, LVS_EX_FULLROWSELECT | LVS_EX_GRIDLINES);
    for (std::uint32_t i = 0; i < s.count; ++i) {
        LVCOLUMNW c{};
        c.mask = LVCF_FMT | LVCF_WIDTH | LVCF_TEXT | LVCF_SUBITEM;
        c.fmt = ColumnFormat(s.columns[i].alignment);
        c.cx = s.columns[i].width;
        c.pszText = const_cast<wchar_t*>(s.columns[i].header);
        c.iSubItem = static_cast<int>(i);
        SendMessageW(list, LVM_INSERTCOLUMNW, i, reinterpret_cast<LPARAM>(&c));
    }
    return list;
}

HWND CreateStatusBar(const FacetUnitPlacement& s) {
    // Docked to the parent's bottom edge, as status bars are: the stored place (top 413 of a
    // client area some 470 high) would leave a gap below it and lie under the list. It stays
    // above its siblings, so a list reaching down to it never paints over the panes.
    HWND bar = CreateWindowExW(0, STATUSCLASSNAMEW, nullptr,
                               WS_CHILD | (s.windowStyle & WS_VISIBLE) | CCS_BOTTOM, s.left, s.top,
                               s.width, s.height, static_cast<HWND>(s.parent),
                               reinterpret_cast<HMENU>(static_cast<INT_PTR>(s.controlId)),
                               GetModuleHandleW(nullptr), nullptr);
    if (bar == nullptr) return nullptr;
    SetWindowPos(bar, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    SendMessageW(bar, WM_SETFONT, reinterpret_cast<WPARAM>(s.font), FALSE);
    std::vector<int> edges;
    int right = 0;
    for (std::uint32_t i = 0; i < s.count; ++i) edges.push_back(right += s.panes[i].width);
    SendMessageW(bar, SB_SETPARTS, edges.size(), reinterpret_cast<LPARAM>(edges.data()));
    for (std::uint32_t i = 0; i < s.count; ++i)
        SendMessageW(bar, SB_SETTEXTW, i, reinterpret_cast<LPARAM>(s.panes[i].text));
    return bar;
}

std::wstring CellText(HWND list, int row, int column) {
    std::wstring text(256, L'\0');
    for (;;) {
        LVITEMW item{};
        item.iSubItem = column;
        item.pszText = text.data();
        item.cchTextMax = static_cast<int>(text.size());
        const auto n = static_cast<std::size_t>(SendMessageW(
            list, LVM_GETITEMTEXTW, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&item)));
        if (n + 1 < text.size()) {
            text.resize(n);
            return text;
        }
        text.resize(text.size() * 2);
    }
}

// The list and the bar as list-view and status-bar messages on the control the host names.
class ControlReports final : public tessel::windows::ReportUnits {
  public:
    bool Has(UnitRef unit, std::uint32_t) override { return Handle(unit) != nullptr; }
    void DeleteAllRows(UnitRef list) override {
        SendMessageW(Handle(list), LVM_DELETEALLITEMS, 0, 0);
    }
    std::int32_t AppendRow(UnitRef list) override {
        HWND h = Handle(list);
        LVITEMW item{};
        item.mask = LVIF_TEXT;
        item.iItem = static_cast<int>(SendMessageW(h, LVM_GETITEMCOUNT, 0, 0));
        item.pszText = const_cast<wchar_t*>(L"");
        return static_cast<std::int32_t>(
            SendMessageW(h, LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&item)));
    }
    std::int32_t RowCount(UnitRef list) override {
        return static_cast<std::int32_t>(SendMessageW(Handle(list), LVM_GETITEMCOUNT, 0, 0));
    }
    std::int32_t ColumnCount(UnitRef list) override {
        HWND header = reinterpret_cast<HWND>(SendMessageW(Handle(list), LVM_GETHEADER, 0, 0));
        return header != nullptr
                   ? static_cast<std::int32_t>(SendMessageW(header, HDM_GETITEMCOUNT, 0, 0))
                   : 0;
    }
    std::int32_t PaneCount(UnitRef bar) override {
        return static_cast<std::int32_t>(SendMessageW(Handle(bar), SB_GETPARTS, 0, 0));
    }
    bool SetCell(UnitRef list, std::int32_t row, std::int32_t column,
                 std::string_view gbk) override {
        const std::wstring text = tessel::platform::WideFromGbk(gbk);
        LVITEMW item{};
        item.iSubItem = column;
        item.pszText = const_cast<wchar_t*>(text.c_str());
        return SendMessageW(Handle(list), LVM_SETITEMTEXTW, static_cast<WPARAM>(row),
                            reinterpret_cast<LPARAM>(&item)) != 0;
    }
    std::string Cell(UnitRef list, std::int32_t row, std::int32_t column) override {
        return tessel::platform::GbkFromWide(CellText(Handle(list), row, column));
    }
    std::int32_t SelectedRow(UnitRef list) override {
        return static_cast<std::int32_t>(
            SendMessageW(Handle(list), LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_SELECTED));
    }
    bool SetPane(UnitRef bar, std::int32_t pane, std::string_view gbk) override {
        const std::wstring text = tessel::platform::WideFromGbk(gbk);
        return SendMessageW(Handle(bar), SB_SETTEXTW, static_cast<WPARAM>(pane),
                            reinterpret_cast<LPARAM>(text.c_str())) != 0;
    }
    std::string Pane(UnitRef bar, std::int32_t pane) override {
        HWND h = Handle(bar);
        const auto length =
            LOWORD(SendMessageW(h, SB_GETTEXTLENGTHW, static_cast<WPARAM>(pane), 0));
        std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
        SendMessageW(h, SB_GETTEXTW, static_cast<WPARAM>(pane),
                     reinterpret_cast<LPARAM>(text.data()));
        text.resize(length);
        return tessel::platform::GbkFromWide(text);
    }
    // Results are the program's blocks: allocated through the runtime, never by this module.
    Value NewText(std::string_view gbk) override {
        auto* p = static_cast<char*>(
            g_host->services->allocate(static_cast<std::uint32_t>(gbk.size() + 1)));
        std::memcpy(p, gbk.data(), gbk.size());
        p[gbk.size()] = '\0';
        return tessel::TextValue(p);
    }

  private:
    static HWND Handle(UnitRef unit) {
        return g_host != nullptr ? static_cast<HWND>(g_host->unitHandle(unit.window, unit.unit))
                                 : nullptr;
    }
};

ControlReports g_reports;

}  // namespace

extern "C" __declspec(dllexport) void tessel_Attach(const LibraryHost* host) {
    g_host = host;
    INITCOMMONCONTROLSEX icc{sizeof icc, ICC_LISTVIEW_CLASSES | ICC_BAR_CLASSES};
    InitCommonControlsEx(&icc);
}

extern "C" __declspec(dllexport) void* tessel_CreateUnit(const FacetUnitPlacement* placement) {
    if (placement == nullptr) return nullptr;
    switch (placement->type) {
        case tessel::tag::kReportList:
            return CreateList(*placement);
        case tessel::tag::kStatusBar:
            return CreateStatusBar(*placement);
        default:
            return nullptr;
    }
}

extern "C" __declspec(dllexport) void tessel_Command(std::uint32_t command, std::uint32_t n,
                                                     const Value* args, Value* result) {
    tessel::windows::RunReportCommand(g_reports, command, n, args, result);
}

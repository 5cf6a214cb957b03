// facet.fnr: the report list (a list view in report view) and the status bar, created for the
// window system and driven by library commands on row 1.
#include <windows.h>
// After windows.h, which it needs.
#include <commctrl.h>

#include <cstring>
#include <string>
#include <vector>

#include "tessel/basalt/library_abi.h"
#include "tessel/platform/arguments.h"
#include "tessel/platform/gbk_win32.h"
#include "tessel/runtime/units.h"

namespace {

using tessel::Value;
using tessel::platform::ArgInt;
using tessel::platform::ArgText;
using namespace tessel::basalt;

const LibraryHost* g_host = nullptr;

// Results are the program's blocks: allocated through the runtime, never by this module.
Value HostText(std::wstring_view wide) {
    const std::string gbk = tessel::platform::GbkFromWide(wide);
    auto* p =
        static_cast<char*>(g_host->services->allocate(static_cast<std::uint32_t>(gbk.size() + 1)));
    std::memcpy(p, gbk.c_str(), gbk.size() + 1);
    return tessel::TextValue(p);
}

HWND UnitHandle(std::uint32_t n, const Value* args) {
    if (n == 0 || g_host == nullptr) return nullptr;
    return static_cast<HWND>(
        g_host->unitHandle(static_cast<std::uint32_t>(args[0].low), args[0].high));
}

int ColumnFormat(std::uint32_t alignment) {
    switch (alignment) {
        case 1:
            return LVCFMT_CENTER;
        case 2:
            return LVCFMT_RIGHT;
        default:
            return LVCFMT_LEFT;
    }
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

void ListCommand(HWND list, std::uint32_t command, std::uint32_t n, const Value* a, Value* r) {
    switch (command) {
        case tessel::facet::kListDeleteAll:
            SendMessageW(list, LVM_DELETEALLITEMS, 0, 0);
            return;
        case tessel::facet::kListAppendRow: {
            LVITEMW item{};
            item.mask = LVIF_TEXT;
            item.iItem = static_cast<int>(SendMessageW(list, LVM_GETITEMCOUNT, 0, 0));
            item.pszText = const_cast<wchar_t*>(L"");
            *r = tessel::IntegerValue(static_cast<std::int32_t>(
                SendMessageW(list, LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&item))));
            return;
        }
        case tessel::facet::kListRowCount:
            *r = tessel::IntegerValue(
                static_cast<std::int32_t>(SendMessageW(list, LVM_GETITEMCOUNT, 0, 0)));
            return;
        case tessel::facet::kListSetCell: {
            const std::wstring text = tessel::platform::WideFromGbk(ArgText(n, a, 3));
            LVITEMW item{};
            item.iSubItem = ArgInt(n, a, 2, 0);
            item.pszText = const_cast<wchar_t*>(text.c_str());
            *r = tessel::LogicalValue(SendMessageW(list, LVM_SETITEMTEXTW,
                                                   static_cast<WPARAM>(ArgInt(n, a, 1, 0)),
                                                   reinterpret_cast<LPARAM>(&item)) != 0);
            return;
        }
        case tessel::facet::kListReadCell:
            *r = HostText(CellText(list, ArgInt(n, a, 1, 0), ArgInt(n, a, 2, 0)));
            return;
        case tessel::facet::kListSelectedRow:
            *r = tessel::IntegerValue(static_cast<std::int32_t>(
                SendMessageW(list, LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_SELECTED)));
            return;
        default:
            return;
    }
}

void StatusCommand(HWND bar, std::uint32_t command, std::uint32_t n, const Value* a, Value* r) {
    const auto pane = static_cast<WPARAM>(ArgInt(n, a, 1, 0));
    switch (command) {
        case tessel::facet::kStatusSetPane: {
            const std::wstring text = tessel::platform::WideFromGbk(ArgText(n, a, 2));
            *r = tessel::LogicalValue(
                SendMessageW(bar, SB_SETTEXTW, pane, reinterpret_cast<LPARAM>(text.c_str())) != 0);
            return;
        }
        case tessel::facet::kStatusReadPane: {
            const auto length = LOWORD(SendMessageW(bar, SB_GETTEXTLENGTHW, pane, 0));
            std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
            SendMessageW(bar, SB_GETTEXTW, pane, reinterpret_cast<LPARAM>(text.data()));
            text.resize(length);
            *r = HostText(text);
            return;
        }
        default:
            return;
    }
}

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
    *result = tessel::OmittedValue();
    HWND unit = UnitHandle(n, args);
    if (unit == nullptr) return;
    if (args[0].tag == tessel::tag::kReportList) ListCommand(unit, command, n, args, result);
    if (args[0].tag == tessel::tag::kStatusBar) StatusCommand(unit, command, n, args, result);
}

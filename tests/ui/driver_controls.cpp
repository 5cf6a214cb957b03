// List views and status bars: their columns, rows, cells and panes.
#include "driver_controls.h"

#include <windows.h>
// The common controls header needs windows.h first.
#include <commctrl.h>

#include <string>
#include <vector>

#include "driver_output.h"
#include "driver_windows.h"

namespace ui_driver {

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

}  // namespace ui_driver

#pragma once
// What list views and status bars of another process hold, read through remote memory.
#include <windows.h>

#include <string>
#include <vector>

#include "remote_block.h"

namespace ui_driver {

struct ListColumn {
    int width = 0;
    int format = 0;
    std::wstring header;
};

std::vector<ListColumn> ListColumns(HWND list, const RemoteBlock& block);
std::wstring CellText(HWND list, const RemoteBlock& block, int row, int column);
const wchar_t* AlignmentName(int format);
// Prints the list's columns, rows and page after its control record.
bool DumpList(HWND list);
// The centre of a row in the list's client coordinates.
bool RowCentre(HWND list, int row, POINT* centre);

struct Pane {
    int right = 0;
    std::wstring text;
};

std::vector<Pane> StatusPanes(HWND bar);
// Prints the bar's panes after its control record.
void DumpStatusBar(HWND bar);

}  // namespace ui_driver

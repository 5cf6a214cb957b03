#pragma once
// The driver's commands, one a function.
#include <windows.h>

#include <string>

#include "driver_options.h"

namespace ui_driver {

// The commands, each answering the exit code.
int CommandWindows(const Options& options);
int CommandWaitWindow(const Options& options);
int CommandDump(const Options& options);
int CommandGetText(const Options& options);
int CommandWaitText(const Options& options);
int CommandSetText(const Options& options);
int CommandClick(const Options& options);
int CommandKey(const Options& options);
int CommandMouse(const Options& options, bool right);
int CommandSelectRow(Options options);
int CommandMenu(const Options& options);
int CommandMenuSelect(const Options& options);
int CommandMessageBox(const Options& options);
int CommandPress(const Options& options);
int CommandChooseFolder(const Options& options);
int CommandClipboard(const Options& options);
int CommandClose(const Options& options);
int CommandWaitGone(const Options& options);

// The record of a top-level window.
std::wstring WindowRecord(HWND top);
// Whether a process shows a dialog box.
bool HasDialogOf(DWORD pid);
// A key posted down and up.
void PostKey(HWND target, UINT key);

}  // namespace ui_driver

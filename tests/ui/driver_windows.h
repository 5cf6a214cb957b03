#pragma once
// Finding windows and controls, waiting for them, and messages to other processes' windows.
#include <windows.h>

#include <functional>
#include <string>
#include <vector>

#include "driver_options.h"

namespace ui_driver {

constexpr DWORD kPollMs = 50;
// How long a message to another process's window may take before it counts as hung.
UINT MessageTimeoutMs();

// Calls `probe` until it answers true or the time is up; answers whether it did.
bool WaitFor(DWORD timeoutMs, const std::function<bool()>& probe);
std::wstring ClassOf(HWND hwnd);
// The text through WM_GETTEXT.
std::wstring TextOf(HWND hwnd);
std::vector<HWND> TopWindows();
std::vector<HWND> Descendants(HWND top);
bool HasWindowFilter(const Options& options);
// Whether a top-level window passes --title, --hwnd, --pid and --window-class.
bool MatchesTop(HWND hwnd, const Options& options);
HWND FindTop(const Options& options);
HWND WaitTop(const Options& options);
HWND FindControl(HWND top, const Options& options);
// The top window by title, then the control, each waited for.
int FindTarget(const Options& options, HWND* top, HWND* control);

// A message sent with the hung-window bound.
LRESULT Send(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);

constexpr size_t kTextChars = 1024;

}  // namespace ui_driver

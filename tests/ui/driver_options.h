#pragma once
// The command line: the command, its words and every option, and how long waits may take.
#include <windows.h>

#include <string>
#include <vector>

namespace ui_driver {

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

// Decimal, or hexadecimal after 0x.
bool ParseNumber(const std::wstring& word, int* value);
// TESSEL_WAIT_SCALE: how many times longer every wait may take here (1 to 100; 1 when unset or
// not a number in that range).
DWORD WaitScale();
bool ParseOptions(int argc, wchar_t** argv, Options* options, std::wstring* error);

}  // namespace ui_driver

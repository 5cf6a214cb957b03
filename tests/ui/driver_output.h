#pragma once
// What the driver prints: records on stdout, messages on stderr, UTF-8.
#include <windows.h>

#include <string>

namespace ui_driver {

enum ExitCode { kOk = 0, kUsage = 1, kNotFound = 2, kFailed = 3, kTimedOut = 4 };

std::string ToUtf8(const std::wstring& text);
void WriteTo(DWORD stream, const std::wstring& line);
void Print(const std::wstring& line);
// Writes the message to stderr and answers the exit code.
int Fail(int code, const std::wstring& message);
// The text quoted, with the escapes the records use.
std::wstring Quote(const std::wstring& text);
std::wstring Hex(HWND hwnd);
std::wstring Rect(const RECT& r);

}  // namespace ui_driver

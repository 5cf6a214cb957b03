// The driver's output: records and messages in UTF-8, texts quoted.
#include "driver_output.h"

#include <windows.h>
// The common controls header needs windows.h first.
#include <commctrl.h>

#include <cstdio>
#include <string>

namespace ui_driver {

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

}  // namespace ui_driver

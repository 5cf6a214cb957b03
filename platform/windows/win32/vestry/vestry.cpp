// vestry.fnr: operating-system interface functions. The folder dialog, on row 3.
#include <shlobj.h>
#include <windows.h>

#include <cstring>
#include <string>

#include "tessel/kernel/arguments.h"
#include "tessel/runtime/units.h"
#include "tessel/win32_shared/gbk_win32.h"
#include "tessel/win32_shared/library_abi.h"

namespace {

using tessel::Value;
const tessel::basalt::LibraryHost* g_host = nullptr;

Value HostText(const std::string& gbk) {
    auto* p =
        static_cast<char*>(g_host->services->allocate(static_cast<std::uint32_t>(gbk.size() + 1)));
    std::memcpy(p, gbk.c_str(), gbk.size() + 1);
    return tessel::TextValue(p);
}

// The chosen folder's path, or the empty text when the dialog is cancelled.
std::wstring BrowseForFolder(const std::wstring& title, HWND owner) {
    const HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    BROWSEINFOW info{};
    info.hwndOwner = owner;
    info.lpszTitle = title.c_str();
    info.ulFlags = BIF_RETURNONLYFSDIRS | BIF_NEWDIALOGSTYLE;
    std::wstring path;
    if (PIDLIST_ABSOLUTE chosen = SHBrowseForFolderW(&info)) {
        wchar_t buffer[MAX_PATH] = {};
        if (SHGetPathFromIDListW(chosen, buffer)) path = buffer;
        CoTaskMemFree(chosen);
    }
    if (SUCCEEDED(com)) CoUninitialize();
    return path;
}

}  // namespace

extern "C" __declspec(dllexport) void tessel_Attach(const tessel::basalt::LibraryHost* host) {
    g_host = host;
}

extern "C" __declspec(dllexport) void tessel_Command(std::uint32_t command, std::uint32_t n,
                                                     const Value* args, Value* result) {
    *result = tessel::OmittedValue();
    if (g_host == nullptr) return;
    if (command == tessel::vestry::kBrowseForFolder) {
        const std::wstring title =
            tessel::platform::WideFromGbk(tessel::platform::ArgText(n, args, 0));
        const std::wstring path = BrowseForFolder(title, static_cast<HWND>(g_host->ownerWindow()));
        *result = HostText(tessel::platform::GbkFromWide(path));
    }
}

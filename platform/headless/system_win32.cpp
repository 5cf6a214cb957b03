// Kernel commands that reach the system, on Windows: message box, settings files, file tests,
// the program's directory, the clipboard and sounds.
#include <windows.h>
// The multimedia declarations build on windows.h.
#include <mmsystem.h>

#include <cstring>
#include <string>
#include <vector>

#include "tessel/headless/headless.h"
#include "tessel/kernel/arguments.h"
#include "tessel/kernel/ini.h"
#include "tessel/runtime/kernel.h"
#include "tessel/win32_shared/gbk_win32.h"

namespace tessel::headless {

namespace {

using platform::ArgText;

bool ReadWholeFile(const std::wstring& path, std::string* out) {
    HANDLE f = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                           OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (f == INVALID_HANDLE_VALUE) return false;
    out->clear();
    char buf[4096];
    DWORD got = 0;
    while (ReadFile(f, buf, sizeof buf, &got, nullptr) && got != 0) out->append(buf, got);
    CloseHandle(f);
    return true;
}

// Written beside the target and moved over it, so a failed write never leaves half a file.
bool ReplaceWholeFile(const std::wstring& path, const std::string& bytes) {
    const std::wstring temp = path + L".new";
    HANDLE f = CreateFileW(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (f == INVALID_HANDLE_VALUE) return false;
    DWORD written = 0;
    const BOOL ok = WriteFile(f, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    CloseHandle(f);
    if (!ok || written != bytes.size() ||
        !MoveFileExW(temp.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING)) {
        DeleteFileW(temp.c_str());
        return false;
    }
    return true;
}

bool SetClipboardText(std::string_view gbk) {
    const std::wstring wide = platform::WideFromGbk(gbk);
    if (!OpenClipboard(nullptr)) return false;
    EmptyClipboard();
    HGLOBAL mem = GlobalAlloc(GMEM_MOVEABLE, (wide.size() + 1) * sizeof(wchar_t));
    bool ok = false;
    if (mem != nullptr) {
        auto* p = static_cast<wchar_t*>(GlobalLock(mem));
        std::memcpy(p, wide.c_str(), (wide.size() + 1) * sizeof(wchar_t));
        GlobalUnlock(mem);
        ok = SetClipboardData(CF_UNICODETEXT, mem) != nullptr;
        if (!ok) GlobalFree(mem);
    }
    CloseClipboard();
    return ok;
}

// A sound played from memory must outlive the call: the last one is kept until the next.
std::vector<char> g_sound;

bool PlaySoundBytes(std::string_view wave) {
    PlaySoundW(nullptr, nullptr, 0);  // stop the previous one before its bytes go
    g_sound.assign(wave.begin(), wave.end());
    if (g_sound.empty()) return false;
    return PlaySoundW(reinterpret_cast<LPCWSTR>(g_sound.data()), nullptr,
                      SND_MEMORY | SND_ASYNC | SND_NODEFAULT) != FALSE;
}

}  // namespace

bool RunSystemCommand(std::uint32_t command, std::uint32_t n, const Value* a, Value* result) {
    switch (command) {
        case kernel::kMessageBox: {
            const std::wstring text = platform::WideFromGbk(ArgText(n, a, 0));
            const std::wstring caption = platform::WideFromGbk(ArgText(n, a, 2));
            const UINT style = static_cast<UINT>(platform::ArgInt(n, a, 1, MB_OK));
            *result = IntegerValue(MessageBoxW(GetActiveWindow(), text.c_str(), caption.c_str(),
                                               style | MB_TASKMODAL));
            return true;
        }
        case kernel::kReadIni: {
            std::string content;
            std::optional<std::string> value;
            if (ReadWholeFile(platform::WideFromGbk(ArgText(n, a, 0)), &content)) {
                value = platform::IniLookup(content, ArgText(n, a, 1), ArgText(n, a, 2));
            }
            *result = platform::NewText(value ? std::string_view(*value) : ArgText(n, a, 3));
            return true;
        }
        case kernel::kWriteIni: {
            const std::wstring path = platform::WideFromGbk(ArgText(n, a, 0));
            std::string content;
            ReadWholeFile(path, &content);
            *result = LogicalValue(
                ReplaceWholeFile(path, platform::IniUpdate(content, ArgText(n, a, 1),
                                                           ArgText(n, a, 2), ArgText(n, a, 3))));
            return true;
        }
        case kernel::kFileExists: {
            const auto path = ArgText(n, a, 0);
            const DWORD attributes = path.empty()
                                         ? INVALID_FILE_ATTRIBUTES
                                         : GetFileAttributesW(platform::WideFromGbk(path).c_str());
            *result = LogicalValue(attributes != INVALID_FILE_ATTRIBUTES);
            return true;
        }
        case kernel::kProgramDirectory: {
            std::wstring path(32768, L'\0');
            const DWORD len =
                GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
            path.resize(len);
            const auto slash = path.find_last_of(L"\\/");
            path.resize(slash == std::wstring::npos ? 0 : slash);
            *result = platform::NewText(platform::GbkFromWide(path));
            return true;
        }
        case kernel::kSetClipboardText:
            *result = LogicalValue(SetClipboardText(ArgText(n, a, 0)));
            return true;
        case kernel::kPlaySound:
            *result = LogicalValue(PlaySoundBytes(platform::ArgBytes(n, a, 0)));
            return true;
        default:
            return false;
    }
}

}  // namespace tessel::headless

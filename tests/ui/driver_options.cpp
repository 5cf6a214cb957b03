// The command line parsed into Options.
#include "driver_options.h"

#include <windows.h>
// The common controls header needs windows.h first.
#include <commctrl.h>

#include <cwchar>
#include <string>

namespace ui_driver {

bool ParseNumber(const std::wstring& word, int* value) {
    if (word.empty()) return false;
    // Decimal, or hexadecimal after 0x (window handles as printed).
    const bool hex = word.size() > 2 && word[0] == L'0' && (word[1] == L'x' || word[1] == L'X');
    wchar_t* end = nullptr;
    const long long number = wcstoll(word.c_str(), &end, hex ? 16 : 10);
    if (*end != L'\0') return false;
    *value = static_cast<int>(number);
    return true;
}

// TESSEL_WAIT_SCALE: how many times longer every wait may take here (1 to 100; 1 when unset or
// not a number in that range).
DWORD WaitScale() {
    wchar_t text[16] = {};
    const DWORD length = GetEnvironmentVariableW(L"TESSEL_WAIT_SCALE", text, 16);
    if (length == 0 || length >= 16) return 1;
    int scale = 0;
    if (!ParseNumber(text, &scale) || scale < 1 || scale > 100) return 1;
    return static_cast<DWORD>(scale);
}

bool ParseOptions(int argc, wchar_t** argv, Options* options, std::wstring* error) {
    for (int i = 1; i < argc; ++i) {
        const std::wstring word = argv[i];
        const auto value = [&](std::wstring* out) {
            if (i + 1 >= argc) return false;
            *out = argv[++i];
            return true;
        };
        const auto number = [&](int* out) {
            std::wstring text;
            return value(&text) && ParseNumber(text, out);
        };
        bool ok = true;
        if (word == L"--timeout-ms") {
            int ms = 0;
            ok = number(&ms) && ms >= 0;
            options->timeoutMs = static_cast<DWORD>(ms);
        } else if (word == L"--desktop") {
            ok = value(&options->desktop);
        } else if (word == L"--title") {
            ok = options->hasTitle = value(&options->title);
        } else if (word == L"--hwnd") {
            int handle = 0;
            ok = number(&handle) && handle != 0;
            options->hwnd = reinterpret_cast<HWND>(static_cast<INT_PTR>(handle));
        } else if (word == L"--pid") {
            ok = number(&options->pid);
        } else if (word == L"--window-class") {
            ok = value(&options->windowClass);
        } else if (word == L"--class") {
            ok = value(&options->className);
        } else if (word == L"--text") {
            ok = options->hasText = value(&options->text);
        } else if (word == L"--id") {
            ok = number(&options->id);
        } else if (word == L"--nth") {
            ok = number(&options->nth);
        } else if (word == L"--pane") {
            ok = number(&options->pane);
        } else if (word == L"--row") {
            ok = number(&options->row);
        } else if (word == L"--column") {
            ok = number(&options->column);
        } else if (word == L"--x") {
            ok = number(&options->x);
        } else if (word == L"--y") {
            ok = number(&options->y);
        } else if (word == L"--no-wait") {
            options->noWait = true;
        } else if (word == L"--wait-exit") {
            options->waitExit = true;
        } else if (word == L"--") {
            for (++i; i < argc; ++i) options->arguments.push_back(argv[i]);
        } else if (word.size() > 2 && word.compare(0, 2, L"--") == 0) {
            *error = L"unknown option " + word;
            return false;
        } else {
            options->arguments.push_back(word);
        }
        if (!ok) {
            *error = L"option " + word + L" needs a valid value";
            return false;
        }
    }
    // The command is the first word that is not an option; options may come before it.
    if (options->arguments.empty()) {
        *error = L"no command";
        return false;
    }
    options->command = options->arguments.front();
    options->arguments.erase(options->arguments.begin());
    options->timeoutMs *= WaitScale();
    return true;
}

}  // namespace ui_driver

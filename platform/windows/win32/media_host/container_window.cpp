#include "container_window.h"

#include "url_download.h"

namespace tessel::player {

HINSTANCE ThisModule() {
    HMODULE module = nullptr;
    GetModuleHandleExW(
        GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
        reinterpret_cast<LPCWSTR>(&ThisModule), &module);
    return module;
}

namespace {

constexpr wchar_t kContainerClass[] = L"TesselMediaPlayerHost";

LRESULT CALLBACK ContainerWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* host = reinterpret_cast<MediaPlayerHost*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    switch (message) {
        case kDownloadFinishedMessage:
            if (host != nullptr) host->OnDownloadFinished(wParam);
            return 0;
        case WM_SIZE:
            if (host != nullptr) host->OnContainerResized();
            return 0;
        case WM_DESTROY:
            // The control is taken down before its window goes with ours.
            if (host != nullptr) host->OnContainerDestroyed();
            SetWindowLongPtrW(window, GWLP_USERDATA, 0);
            return 0;
        default:
            return DefWindowProcW(window, message, wParam, lParam);
    }
}

bool RegisterContainerClass() {
    WNDCLASSEXW windowClass = {};
    windowClass.cbSize = sizeof(windowClass);
    HINSTANCE instance = ThisModule();
    if (GetClassInfoExW(instance, kContainerClass, &windowClass)) return true;
    windowClass.cbSize = sizeof(windowClass);
    windowClass.style = 0;
    windowClass.lpfnWndProc = ContainerWindowProc;
    windowClass.hInstance = instance;
    windowClass.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    windowClass.lpszClassName = kContainerClass;
    return RegisterClassExW(&windowClass) != 0 || GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
}

}  // namespace

HWND CreateContainerWindow(HWND parent, const RECT& rect, MediaPlayerHost* host) {
    if (!RegisterContainerClass()) return nullptr;
    HWND container = CreateWindowExW(
        0, kContainerClass, L"", WS_CHILD | WS_VISIBLE | WS_CLIPCHILDREN, rect.left, rect.top,
        rect.right - rect.left, rect.bottom - rect.top, parent, nullptr, ThisModule(), nullptr);
    if (container != nullptr)
        SetWindowLongPtrW(container, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(host));
    return container;
}

}  // namespace tessel::player

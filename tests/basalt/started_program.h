#pragma once
// The development starter run as a separate process, and what a test reads from it: its
// windows (through window messages, with buffers in the other process where a message needs
// one) and the lines its stand-in handlers log.
#include <windows.h>

#include <chrono>
#include <functional>
#include <string>
#include <vector>

namespace tessel::basalt_test {

// Polls `done` every 50 ms until it holds or `limit` passes.
bool WaitUntil(const std::function<bool()>& done,
               std::chrono::milliseconds limit = std::chrono::seconds(20));

class StartedProgram {
  public:
    // Starts basalt_starter.exe (beside this test) with TESSEL_STARTER_MODE = mode.
    explicit StartedProgram(const std::string& mode, int menuItem = 0);
    ~StartedProgram();  // a process still running is killed
    StartedProgram(const StartedProgram&) = delete;
    StartedProgram& operator=(const StartedProgram&) = delete;

    bool Started() const { return process_.hProcess != nullptr; }
    DWORD ProcessId() const { return process_.dwProcessId; }
    HWND WaitForMainWindow();
    // A visible top-level window of the program with this class (a message box: "#32770"),
    // with a title when `titled`.
    HWND WaitForTopLevel(const wchar_t* windowClass, bool titled = false);
    // Exit code once the process ended within the limit; STILL_ACTIVE otherwise.
    DWORD WaitForExit(std::chrono::milliseconds limit = std::chrono::seconds(20));
    std::vector<std::string> LogLines() const;
    bool WaitForLogLine(const std::string& line);
    int CountLogLines(const std::string& line) const;

    // Texts read across the process boundary.
    std::wstring ListColumnHeader(HWND list, int column);
    std::wstring StatusPaneText(HWND bar, int pane);

  private:
    PROCESS_INFORMATION process_{};
    std::string logPath_;
};

std::wstring WindowText(HWND hwnd);
std::string Utf8(const std::wstring& text);
// The child windows of `parent` of class `windowClass`, in creation order.
std::vector<HWND> Children(HWND parent, const wchar_t* windowClass);

}  // namespace tessel::basalt_test

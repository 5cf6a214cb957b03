// The library's door: GetNewSock hands out the start routine, which loads the image it is given
// and runs the program's entry routine.
#include <windows.h>

#include <string>

#include "loaded_image.h"
#include "tessel/basalt/player_slot.h"
#include "tessel/win32_shared/gbk_win32.h"

namespace {

constexpr DWORD kStartRoutineRequest = 1000;

void WINAPI StartProgram(std::uint8_t* firstByte) {
    using namespace tessel::basalt;
    // The runtime's own routines (kernel commands shared with the headless runtime) reach the
    // services through the same table the program uses.
    tessel::InstallServices(&BasaltServices());
    UseHostedPlayer();
    std::string error;
    if (firstByte == nullptr || !LoadImage(firstByte, &error)) {
        const std::wstring text =
            L"The program image cannot be loaded: " + tessel::platform::WideFromGbk(error);
        MessageBoxW(nullptr, text.c_str(), L"Tessel", MB_OK | MB_ICONERROR);
        ExitProcess(0xFFFFFFFF);
    }
    // Step 6: the entry routine; it ends the program itself, but a return ends it too.
    EntryPoint()();
    BasaltServices().endProgram(0);
}

}  // namespace

extern "C" __declspec(dllexport) void* WINAPI GetNewSock(DWORD request) {
    return request == kStartRoutineRequest ? reinterpret_cast<void*>(&StartProgram) : nullptr;
}

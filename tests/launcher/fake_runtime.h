// The launcher tests' stand-in runtime libraries share their logging and start routine
// (fake_runtime.cpp); each form adds its own GetNewSock, or none.
#pragma once
#include <windows.h>

#include <cstdint>

namespace tessel::launcher_test {

// Logs the request; answers the start routine, or 0 when `refuse`.
void* AnswerRequest(DWORD request, bool refuse);

}  // namespace tessel::launcher_test

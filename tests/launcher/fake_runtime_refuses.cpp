// A runtime library whose GetNewSock refuses every request.
#include "fake_runtime.h"

extern "C" __declspec(dllexport) void* WINAPI GetNewSock(DWORD request) {
    return tessel::launcher_test::AnswerRequest(request, true);
}

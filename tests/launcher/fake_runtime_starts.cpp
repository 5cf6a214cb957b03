// A runtime library whose start routine records the image it was given and returns.
#include "fake_runtime.h"

extern "C" __declspec(dllexport) void* WINAPI GetNewSock(DWORD request) {
    return tessel::launcher_test::AnswerRequest(request, false);
}

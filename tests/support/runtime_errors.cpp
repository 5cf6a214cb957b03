#include "runtime_errors.h"

#include "recording_services.h"
#include "tessel/headless/headless.h"

namespace tessel::testing {

namespace {
struct RaisedRuntimeError {
    std::int32_t code;
};
void ThrowingHandler(std::int32_t code) {
    throw RaisedRuntimeError{code};
}

std::int32_t CodeRaisedBy(const std::function<void()>& body) {
    try {
        body();
    } catch (const RaisedRuntimeError& e) {
        return e.code;
    }
    return 0;
}

}  // namespace

std::int32_t CatchRuntimeError(const std::function<void()>& body) {
    headless::Install();
    headless::SetErrorHandler(&ThrowingHandler);
    const std::int32_t code = CodeRaisedBy(body);
    headless::SetErrorHandler(nullptr);
    return code;
}

std::int32_t CatchRuntimeError(RecordingServices& services, const std::function<void()>& body) {
    services.onRuntimeError = &ThrowingHandler;
    const std::int32_t code = CodeRaisedBy(body);
    services.onRuntimeError = nullptr;
    return code;
}

}  // namespace tessel::testing

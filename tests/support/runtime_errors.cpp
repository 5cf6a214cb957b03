#include "runtime_errors.h"

#include "tessel/platform/headless.h"

namespace tessel::testing {

namespace {
struct RaisedRuntimeError {
    std::int32_t code;
};
void ThrowingHandler(std::int32_t code) { throw RaisedRuntimeError{code}; }
}  // namespace

std::int32_t CatchRuntimeError(const std::function<void()>& body) {
    headless::Install();
    headless::SetErrorHandler(&ThrowingHandler);
    std::int32_t code = 0;
    try {
        body();
    } catch (const RaisedRuntimeError& e) {
        code = e.code;
    }
    headless::SetErrorHandler(nullptr);
    return code;
}

}  // namespace tessel::testing

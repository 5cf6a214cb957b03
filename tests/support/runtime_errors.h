#pragma once
// Catches a runtime error raised by code under test. The headless runtime's error service would
// end the process; here it unwinds back to the test instead (all of it is one module, so the
// unwinding never crosses a runtime boundary). Works the same natively and under Wine, where
// death tests are not available.
#include <cstdint>
#include <functional>

namespace tessel::testing {

// Runs `body` with the headless runtime installed; answers the runtime error code it raised, or
// 0 when it raised none.
std::int32_t CatchRuntimeError(const std::function<void()>& body);

class RecordingServices;
// The same with the recording double installed instead, which then records the calls.
std::int32_t CatchRuntimeError(RecordingServices& services, const std::function<void()>& body);

}  // namespace tessel::testing

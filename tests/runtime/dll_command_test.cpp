// DLL commands: the declared table, and error 6 for a function called against its declaration.
#include <gtest/gtest.h>

#include "runtime_errors.h"
#include "tessel/platform/headless.h"
#include "tessel/runtime/dll_commands.h"

#ifdef _WIN32
#include "tessel/platform/stdcall.h"
#endif

namespace tessel {
namespace {

TEST(DllCommandTable, HoldsTheProgramsTwelveCommands) {
    ASSERT_EQ(dll::kTable.size(), 12u);
    EXPECT_STREQ(dll::kTable[0].library, "");
    EXPECT_STREQ(dll::kTable[0].function, "MultiByteToWideChar");
    EXPECT_STREQ(dll::kTable[dll::kHttpSendRequestA].function, "HttpSendRequestA");
    EXPECT_STREQ(dll::kTable[dll::kHttpSendRequestWithBytes].function, "HttpSendRequestA");
    EXPECT_STREQ(dll::kTable[dll::kCoUninitialize].library, "ole32.dll");
}

TEST(DllCommandErrors, AnUnknownIndexRaisesError6) {
    EXPECT_EQ(testing::CatchRuntimeError([] { headless::CallDllCommand(99, 0, nullptr); }),
              runtime_error::kStackUnbalanced);
}

TEST(DllCommandErrors, ACallAgainstTheDeclarationRaisesError6) {
    // MultiByteToWideChar takes six arguments; called with two its declaration does not match.
    const Word args[] = {0, 0};
    EXPECT_EQ(testing::CatchRuntimeError(
                  [&] { headless::CallDllCommand(dll::kMultiByteToWideChar, 2, args); }),
              runtime_error::kStackUnbalanced);
}

#ifdef _WIN32
extern "C" int __stdcall AddTwo(int a, int b) { return a + b; }
extern "C" int __cdecl AddTwoCdecl(int a, int b) { return a + b; }

TEST(CheckedStdcall, ABalancedCallAnswersItsResult) {
    headless::Install();
    const Word args[] = {40, 2};
    EXPECT_EQ(platform::CallStdcallChecked(reinterpret_cast<void*>(&AddTwo), 2, args), 42u);
}

TEST(CheckedStdcall, AFunctionThatLeavesTheStackUnbalancedRaisesError6) {
    const Word args[] = {40, 2};
    // A cdecl function leaves its arguments on the stack: its declaration does not match.
    EXPECT_EQ(testing::CatchRuntimeError([&] {
                  platform::CallStdcallChecked(reinterpret_cast<void*>(&AddTwoCdecl), 2, args);
              }),
              runtime_error::kStackUnbalanced);
    // Too few arguments for a stdcall function: it pops more than was pushed.
    EXPECT_EQ(testing::CatchRuntimeError([&] {
                  platform::CallStdcallChecked(reinterpret_cast<void*>(&AddTwo), 1, args);
              }),
              runtime_error::kStackUnbalanced);
}

TEST(RealDllCommands, CoInitializeIsReachedThroughTheTable) {
    headless::Install();
    const Word none[] = {0};
    const Word hr = headless::CallDllCommand(dll::kCoInitialize, 1, none);
    EXPECT_TRUE(hr == 0 || hr == 1);  // S_OK or S_FALSE
    headless::CallDllCommand(dll::kCoUninitialize, 0, nullptr);
}
#endif

}  // namespace
}  // namespace tessel

// DLL commands: the declared table, and error 6 for a function called against its declaration.
#include <gtest/gtest.h>

#include "runtime_errors.h"
#include "tessel/headless/headless.h"
#include "tessel/runtime/dll_commands.h"

#ifdef _WIN32
#include "tessel/headless/stdcall.h"
#endif

namespace tessel {
namespace {

TEST(DllCommandTable, HoldsTheProgramsCommands) {
    ASSERT_EQ(dll::kTable.size(), 29u);
    EXPECT_STREQ(dll::kTable[0].library, "");
    EXPECT_STREQ(dll::kTable[0].function, "MultiByteToWideChar");
    EXPECT_STREQ(dll::kTable[dll::kHttpSendRequestA].function, "HttpSendRequestA");
    EXPECT_STREQ(dll::kTable[dll::kHttpSendRequestWithBytes].function, "HttpSendRequestA");
    EXPECT_STREQ(dll::kTable[dll::kCoUninitialize].library, "ole32.dll");
    EXPECT_STREQ(dll::kTable[dll::kRecvFrom].function, "recvfrom");
    EXPECT_STREQ(dll::kTable[dll::kDnsServiceBrowse].library, "dnsapi.dll");
}

TEST(DllCommandTable, OnlyTheDnsServiceFunctionsAreOptional) {
    for (std::uint32_t i = 0; i < dll::kTable.size(); ++i) {
        const bool dnsService = i >= dll::kDnsServiceBrowse && i <= dll::kDnsServiceFreeInstance;
        EXPECT_EQ(dll::kTable[i].optional, dnsService) << dll::kTable[i].function;
        EXPECT_EQ(dll::IsOptional(dll::kTable[i].library, dll::kTable[i].function), dnsService);
    }
}

TEST(DllCommandTable, OnlyAnOptionalFunctionCalledAsDeclaredAnswersWhenMissing) {
    // A Windows before 10 has no DnsServiceBrowse: the program is told so and falls back.
    EXPECT_TRUE(dll::AnswersMissing(dll::kDnsServiceBrowse, 2));
    EXPECT_TRUE(dll::AnswersMissing(dll::kDnsServiceFreeInstance, 1));
    // Called against its declaration it is the unbalanced stack all the same.
    EXPECT_FALSE(dll::AnswersMissing(dll::kDnsServiceBrowse, 3));
    // A function every Windows has is an error where missing, and so is an unknown index.
    EXPECT_FALSE(dll::AnswersMissing(dll::kDnsRecordListFree, 2));
    EXPECT_FALSE(dll::AnswersMissing(dll::kSocket, 3));
    EXPECT_FALSE(dll::AnswersMissing(99, 0));
}

TEST(DllCommandErrors, AnUnknownIndexRaisesError6) {
    EXPECT_EQ(testing::CatchRuntimeError([] { headless::CallDllCommand(99, 0, nullptr); }),
              runtime_error::kStackUnbalanced);
}

TEST(DllCommandErrors, ACallAgainstTheDeclarationRaisesError6) {
    // CoUninitialize takes no argument; given one it leaves it on the stack. (Fewer arguments
    // than a real function takes are shown with a function of this test's own below.)
    const Word args[] = {0};
    EXPECT_EQ(testing::CatchRuntimeError(
                  [&] { headless::CallDllCommand(dll::kCoUninitialize, 1, args); }),
              runtime_error::kStackUnbalanced);
}

#ifdef _WIN32
extern "C" int __stdcall AddTwo(int a, int b) {
    return a + b;
}
extern "C" int __cdecl AddTwoCdecl(int a, int b) {
    return a + b;
}

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
    EXPECT_EQ(testing::CatchRuntimeError(
                  [&] { platform::CallStdcallChecked(reinterpret_cast<void*>(&AddTwo), 1, args); }),
              runtime_error::kStackUnbalanced);
}

// What a six-argument function found in its last four arguments when it was given two.
std::uint32_t g_missingArguments[4];

// Reads its four missing arguments and, when they are the guard area's zeros, writes over them
// as a function may write over its own arguments.
extern "C" int __stdcall TakesSix(int a, int b, std::uint32_t c, std::uint32_t d, std::uint32_t e,
                                  std::uint32_t f) {
    g_missingArguments[0] = c;
    g_missingArguments[1] = d;
    g_missingArguments[2] = e;
    g_missingArguments[3] = f;
    if ((c | d | e | f) == 0) {
        for (std::uint32_t* own : {&c, &d, &e, &f})
            *static_cast<volatile std::uint32_t*>(own) = 0xDEADBEEF;
    }
    return a + b;
}

TEST(CheckedStdcall, TooFewArgumentsReachOnlyTheGuardAreaAndRaiseError6) {
    const Word args[] = {40, 2};
    volatile std::uint32_t kept = 0x600DF00D;
    EXPECT_EQ(testing::CatchRuntimeError([&] {
                  platform::CallStdcallChecked(reinterpret_cast<void*>(&TakesSix), 2, args);
              }),
              runtime_error::kStackUnbalanced);
    EXPECT_EQ(g_missingArguments[0], 0u);
    EXPECT_EQ(g_missingArguments[1], 0u);
    EXPECT_EQ(g_missingArguments[2], 0u);
    EXPECT_EQ(g_missingArguments[3], 0u);
    EXPECT_EQ(kept, 0x600DF00Du);
    // The same call balanced answers normally afterwards.
    const Word six[] = {40, 2, 0, 0, 0, 0};
    EXPECT_EQ(platform::CallStdcallChecked(reinterpret_cast<void*>(&TakesSix), 6, six), 42u);
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

// The entry routine, the globals and the clean-up, against the recording service table.
#include "tessel/runtime/program.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "recording_services.h"
#include "tessel/headless/headless.h"
#include "tessel/runtime/library_commands.h"
#include "tessel/runtime/text.h"

namespace tessel {
namespace {

using testing::RecordingServices;

// The facts a program hands the entry routine: the main window's id and a password of its own.
constexpr std::uint32_t kMainWindow = 0x52010001;
constexpr char kPassword[] = "starter@test.example";
constexpr ProgramFacts kFacts{kMainWindow, kPassword};

class ProgramStart : public ::testing::Test {
  protected:
    void SetUp() override {
        globals_ = {};
        InstallGlobals(&globals_);
    }
    void TearDown() override { InstallGlobals(nullptr); }
    Globals globals_{};
};

TEST_F(ProgramStart, EntryRoutineCallsTheServicesInOrder) {
    RecordingServices rs;
    EntryRoutine(kFacts);

    // Allocation of the record and its six text copies, the holder, then the rest in order.
    std::vector<std::uint32_t> expected(8, slot::kAllocate);
    expected.insert(expected.end(), {slot::kRequest, slot::kLoadAndShowWindow, slot::kMessageLoop,
                                     slot::kEndProgram});
    EXPECT_EQ(rs.Slots(), expected);

    ASSERT_EQ(rs.calls.size(), expected.size());
    const auto& c = rs.calls;
    EXPECT_EQ(c[0].words[0], sizeof(TransferSettings));
    EXPECT_EQ(c[7].words[0], sizeof(Word));  // 4 on the image's target
    EXPECT_EQ(c[8].words[0], request::kAtExit);
    EXPECT_EQ(c[8].words[1], reinterpret_cast<Word>(&CleanUpGlobals));
    EXPECT_EQ(c[9].words[0], kMainWindow);
    EXPECT_EQ(c[11].words[0], 0u);  // exit code
    // Each text copy is allocated at the text's length plus one, in field order.
    const std::vector<Word> textSizes = {1, 1, 10, sizeof kPassword, 1, 34};
    for (std::size_t i = 0; i < textSizes.size(); ++i) EXPECT_EQ(c[1 + i].words[0], textSizes[i]);

    rs.atExit.at(0)();  // the runtime runs the clean-up once at the end
    EXPECT_TRUE(rs.liveBlocks.empty());
}

TEST_F(ProgramStart, RecordHoldsItsInitialValues) {
    RecordingServices rs;
    InitializeGlobals(kFacts);
    const TransferSettings& r = *globals_.transferSettings;
    auto text = [&](int f) { return reinterpret_cast<const char*>(r.field(f)); };
    EXPECT_EQ(r.field(1), 1u);
    EXPECT_STREQ(text(2), "");
    EXPECT_STREQ(text(3), "");
    EXPECT_STREQ(text(4), "anonymous");
    EXPECT_STREQ(text(5), kPassword);
    EXPECT_NE(r.field(5), reinterpret_cast<Word>(kPassword));  // a copy of the program's
    const Word numbers[][2] = {{6, 1},      {7, 0},     {8, 20000},  {9, 20000},
                               {10, 20000}, {11, 1000}, {12, 20480}, {13, 1024},
                               {14, 0},     {15, 0},    {17, 1}};
    for (const auto& [f, v] : numbers) EXPECT_EQ(r.field(static_cast<int>(f)), v) << "field " << f;
    EXPECT_STREQ(text(16), "");
    EXPECT_STREQ(text(18), ".exe|.rar|.zip|.gif|.jpg|.mp3|.rm");
    EXPECT_EQ(r.field(19), 0u);
    EXPECT_EQ(r.field(20), 0u);
    // Every text is a block of its own.
    EXPECT_NE(r.field(2), r.field(3));
    ASSERT_NE(globals_.transferHolder, nullptr);
    EXPECT_EQ(*globals_.transferHolder, 0u);
    CleanUpGlobals();
}

TEST_F(ProgramStart, CleanUpFreesInOrderThenReleasesTheTransferObject) {
    RecordingServices rs;
    InitializeGlobals(kFacts);
    TransferSettings* record = globals_.transferSettings;
    Word* holder = globals_.transferHolder;
    std::vector<void*> order;
    for (int f : {2, 3, 4, 5, 16, 18}) order.push_back(reinterpret_cast<void*>(record->field(f)));
    order.push_back(record);
    rs.calls.clear();

    CleanUpGlobals();
    order.push_back(holder);
    EXPECT_EQ(rs.freed, order);  // null fields 19 and 20 skipped
    EXPECT_EQ(rs.unknownFrees, 0);

    // The release of the transfer object lies between the record and the holder.
    const auto lib = std::find_if(rs.calls.begin(), rs.calls.end(),
                                  [](const auto& c) { return c.slot == slot::kLibraryCommand; });
    ASSERT_NE(lib, rs.calls.end());
    EXPECT_EQ(lib->words[0], row::kFerry);
    EXPECT_EQ(lib->words[1], ferry::kRelease);
    ASSERT_EQ(lib->values.size(), 1u);
    EXPECT_EQ(lib->values[0].tag, tag::kTransferObject);
    EXPECT_EQ(lib->values[0].low, reinterpret_cast<Word>(holder));
    const auto libIndex = lib - rs.calls.begin();
    EXPECT_EQ(rs.calls[libIndex - 1].words[0], reinterpret_cast<Word>(record));
    EXPECT_EQ(rs.calls[libIndex + 1].words[0], reinterpret_cast<Word>(holder));
    EXPECT_TRUE(rs.liveBlocks.empty());
}

TEST_F(ProgramStart, FieldsTheProgramFilledAreFreedToo) {
    RecordingServices rs;
    InitializeGlobals(kFacts);
    TransferSettings* record = globals_.transferSettings;
    record->field(19) = reinterpret_cast<Word>(CopyText("kept"));
    CleanUpGlobals();
    EXPECT_TRUE(rs.liveBlocks.empty());
    EXPECT_EQ(rs.unknownFrees, 0);
}

int g_cleanUps = 0;
void CountCleanUp() {
    ++g_cleanUps;
}

TEST(ProgramEnd, TheRegisteredCleanUpRunsExactlyOnce) {
    headless::Install();
    g_cleanUps = 0;
    RegisterAtExit(&CountCleanUp);
    RunMessageLoop();  // the headless loop returns at once: nothing has run yet
    EXPECT_EQ(g_cleanUps, 0);
    headless::RunAtExitRoutines();  // the program's end
    headless::RunAtExitRoutines();  // and any later end
    EXPECT_EQ(g_cleanUps, 1);
}

TEST_F(ProgramStart, StartUpRoutineAnswersZeroAndCallsNoService) {
    RecordingServices rs;
    EXPECT_EQ(StartUpRoutine(), 0);
    EXPECT_TRUE(rs.calls.empty());
}

}  // namespace
}  // namespace tessel

#include "tessel/runtime/program.h"

#include <array>
#include <cstring>

#include "tessel/runtime/library_commands.h"
#include "tessel/runtime/services.h"
#include "tessel/runtime/text.h"

namespace tessel {

namespace {
Globals g_ownGlobals{};
Globals* g_globals = &g_ownGlobals;

void ResetFloatingPointUnit() {
#if defined(__i386__) || defined(__x86_64__)
    asm volatile("fninit");
#endif
}

// The start-up routine's callee: the place for work before the main window appears.
void BeforeMainWindow() {}

// Text fields of the record, freed in this order at the end.
constexpr std::array<int, 8> kOwnedFields = {2, 3, 4, 5, 16, 18, 19, 20};
}  // namespace

void InstallGlobals(Globals* storage) { g_globals = storage != nullptr ? storage : &g_ownGlobals; }
Globals& ProgramGlobals() { return *g_globals; }

void InitializeGlobals() {
    auto* record = static_cast<TransferSettings*>(Allocate(sizeof(TransferSettings)));
    g_globals->transferSettings = record;
    std::memset(record, 0, sizeof *record);
    auto text = [](const char* s) { return reinterpret_cast<Word>(CopyText(s)); };
    record->field(1) = 1;
    record->field(2) = text("");
    record->field(3) = text("");
    record->field(4) = text("anonymous");
    record->field(5) = text(kAnonymousPassword);
    record->field(6) = 1;
    record->field(7) = 0;
    record->field(8) = 20000;
    record->field(9) = 20000;
    record->field(10) = 20000;
    record->field(11) = 1000;
    record->field(12) = 20480;
    record->field(13) = 1024;
    record->field(14) = 0;
    record->field(15) = 0;
    record->field(16) = text("");
    record->field(17) = 1;
    record->field(18) = text(".exe|.rar|.zip|.gif|.jpg|.mp3|.rm");
    // Fields 19 and 20 stay null.

    // A 4-byte block on the image's target: one word for the transfer library's object.
    auto* holder = static_cast<Word*>(Allocate(sizeof(Word)));
    g_globals->transferHolder = holder;
    *holder = 0;
}

void CleanUpGlobals() {
    TransferSettings* record = g_globals->transferSettings;
    if (record != nullptr) {
        for (int f : kOwnedFields) Free(reinterpret_cast<void*>(record->field(f)));
        Free(record);
        g_globals->transferSettings = nullptr;
    }
    const Value holder{reinterpret_cast<Word>(g_globals->transferHolder), 0,
                       tag::kTransferObject};
    CallLibrary(row::kFerry, ferry::kRelease, std::span<const Value>(&holder, 1));
    Free(g_globals->transferHolder);
    g_globals->transferHolder = nullptr;
}

std::int32_t StartUpRoutine() {
    BeforeMainWindow();
    return 0;
}

void EntryRoutine() {
    ResetFloatingPointUnit();
    InitializeGlobals();
    RegisterAtExit(&CleanUpGlobals);
    StartUpRoutine();
    LoadAndShowWindow(kMainWindowId);
    RunMessageLoop();
    EndProgram(0);
}

}  // namespace tessel

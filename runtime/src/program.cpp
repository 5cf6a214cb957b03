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

// One field of the record as it starts: a number, or a text the record owns a heap copy of.
struct InitialField {
    int field;
    Word number;
    const char* text;
};
constexpr InitialField Number(int field, Word number) {
    return {field, number, nullptr};
}
constexpr InitialField OwnText(int field, const char* text) {
    return {field, 0, text};
}

// The text fields, freed in this order at the end.
constexpr std::array<int, 8> kOwnedFields = {transfer_field::kAddress,
                                             transfer_field::kTargetPath,
                                             transfer_field::kLoginUser,
                                             transfer_field::kLoginPassword,
                                             16,
                                             18,
                                             19,
                                             20};
}  // namespace

void InstallGlobals(Globals* storage) {
    g_globals = storage != nullptr ? storage : &g_ownGlobals;
}
Globals& ProgramGlobals() {
    return *g_globals;
}

void InitializeGlobals(const ProgramFacts& program) {
    auto* record = static_cast<TransferSettings*>(Allocate(sizeof(TransferSettings)));
    g_globals->transferSettings = record;
    std::memset(record, 0, sizeof *record);
    // Filled in field order. Ferry reads the address and the target path, which a download sets;
    // the other values are what the transfer library's record has always started with, kept
    // though this ferry does not read them. Fields 19 and 20 stay null.
    const InitialField initial[] = {
        Number(transfer_field::kKind, 1),
        OwnText(transfer_field::kAddress, ""),
        OwnText(transfer_field::kTargetPath, ""),
        OwnText(transfer_field::kLoginUser, "anonymous"),
        OwnText(transfer_field::kLoginPassword, program.anonymousPassword),
        Number(transfer_field::kOption, 1),
        Number(7, 0),
        Number(8, 20000),
        Number(9, 20000),
        Number(10, 20000),
        Number(11, 1000),
        Number(12, 20480),
        Number(13, 1024),
        Number(14, 0),
        Number(15, 0),
        OwnText(16, ""),
        Number(17, 1),
        OwnText(18, ".exe|.rar|.zip|.gif|.jpg|.mp3|.rm"),
    };
    for (const InitialField& f : initial) {
        record->field(f.field) =
            f.text != nullptr ? reinterpret_cast<Word>(CopyText(f.text)) : f.number;
    }

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
    const Value holder{reinterpret_cast<Word>(g_globals->transferHolder), 0, tag::kTransferObject};
    CallLibrary(row::kFerry, ferry::kRelease, std::span<const Value>(&holder, 1));
    Free(g_globals->transferHolder);
    g_globals->transferHolder = nullptr;
}

std::int32_t StartUpRoutine() {
    BeforeMainWindow();
    return 0;
}

void EntryRoutine(const ProgramFacts& program) {
    ResetFloatingPointUnit();
    InitializeGlobals(program);
    RegisterAtExit(&CleanUpGlobals);
    StartUpRoutine();
    LoadAndShowWindow(program.mainWindowId);
    RunMessageLoop();
    EndProgram(0);
}

}  // namespace tessel

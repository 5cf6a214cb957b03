#pragma once
// The program's globals, its entry routine, start-up and clean-up.
#include <cstdint>

#include "tessel/runtime/value.h"

namespace tessel {

// The transfer-settings record: twenty words whose meaning belongs to the transfer library.
// Fields are numbered from 1 as that library numbers them.
struct TransferSettings {
    Word fields[20];
    Word& field(int n) { return fields[n - 1]; }
    const Word& field(int n) const { return fields[n - 1]; }
};

// The `var` data: four 32-bit words on the image's target.
struct Globals {
    std::uint32_t currentTagWindow;  // currentTag: the tag label highlighted last
    std::uint32_t currentTagUnit;
    TransferSettings* transferSettings;
    Word* transferHolder;  // the transfer library keeps its object here
};

// Where the globals live: in the image's `var` memory once the runtime provides it, else in a
// zeroed block of this module (also what null installs).
void InstallGlobals(Globals* storage);
Globals& ProgramGlobals();

// The default anonymous-login password of the transfer settings (field 5).
inline constexpr const char kAnonymousPassword[] = "tessel@example.cn";
// The main window's id in the form data.
inline constexpr std::uint32_t kMainWindowId = 0x52010001;

// Called once by the runtime once the image is fixed up.
void EntryRoutine();
void InitializeGlobals();
void CleanUpGlobals();
std::int32_t StartUpRoutine();

}  // namespace tessel

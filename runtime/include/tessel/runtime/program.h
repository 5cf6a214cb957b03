#pragma once
// The program's globals, its entry routine, start-up and clean-up.
#include <cstdint>

#include "tessel/runtime/transfer_settings.h"
#include "tessel/runtime/value.h"

namespace tessel {

// The `var` data: four 32-bit words on the image's target.
struct Globals {
    std::uint32_t programWords[2];  // words 0-1: the program's own state (app/ names it)
    TransferSettings* transferSettings;
    Word* transferHolder;  // the transfer library keeps its object here
};

// Where the globals live: in the image's `var` memory once the runtime provides it, else in a
// zeroed block of this module (also what null installs).
void InstallGlobals(Globals* storage);
Globals& ProgramGlobals();

// What the entry routine is told of the program it starts.
struct ProgramFacts {
    std::uint32_t mainWindowId;     // the window loaded and shown first
    const char* anonymousPassword;  // the transfer settings' login password at start
};

// Called once by the runtime once the image is fixed up.
void EntryRoutine(const ProgramFacts& program);
void InitializeGlobals(const ProgramFacts& program);
void CleanUpGlobals();
std::int32_t StartUpRoutine();

}  // namespace tessel

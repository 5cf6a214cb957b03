// The program's side of a loaded image on Win32: the image's entry and clean-up stubs land here.
// By the time the runtime calls the entry routine it has fixed the image up, so the service
// entries jump through its table and the word behind them holds the `var` data's address.
#include <cstdint>
#include <cstring>

#include "tessel/app/program.h"
#include "tessel/image/const_offsets.h"
#include "tessel/runtime/program.h"
#include "tessel/runtime/services.h"

extern "C" std::uint8_t tessel_image_code[];

namespace {

std::uint32_t CodeWord(std::uint32_t codeOffset) {
    std::uint32_t v = 0;
    std::memcpy(&v, tessel_image_code + codeOffset, sizeof v);
    return v;
}

}  // namespace

extern "C" void tessel_EntryRoutine() {
    using namespace tessel;
    // The first service entry is `FF 25` + the fixed-up address of its slot in the table.
    const std::uint32_t slotAddress = CodeWord(routine_stubs::kServiceEntries + 2);
    InstallServices(reinterpret_cast<const ServiceTable*>(
        static_cast<std::uintptr_t>(slotAddress - routine_stubs::kFirstServiceSlot)));
    InstallGlobals(reinterpret_cast<Globals*>(
        static_cast<std::uintptr_t>(CodeWord(routine_stubs::kVarAddressWord))));
    EntryRoutine(app::kProgramFacts);
}

extern "C" void tessel_CleanUpGlobals() {
    tessel::CleanUpGlobals();
}

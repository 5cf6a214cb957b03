#include "tessel/runtime/library_commands.h"

#include <array>

#include "tessel/runtime/services.h"

namespace tessel {

namespace {
Value HolderValue(Word* holder) {
    return {reinterpret_cast<Word>(holder), 0, tag::kTransferObject};
}

std::int32_t FerryInteger(std::uint32_t command, std::span<const Value> args = {}) {
    return AsInteger(Expect(CallLibrary(row::kFerry, command, args), tag::kInteger));
}
}  // namespace

std::int32_t StartTransfer(Word* holder, TransferSettings* record) {
    const std::array<Value, 2> args = {
        HolderValue(holder), Value{reinterpret_cast<Word>(record), 0, tag::kTransferSettings}};
    return FerryInteger(ferry::kStartDownload, args);
}

std::int32_t CurrentTransferSpeed() {
    return FerryInteger(ferry::kCurrentSpeed);
}

void ReleaseTransfers(Word* holder) {
    const Value arg = HolderValue(holder);
    CallLibrary(row::kFerry, ferry::kRelease, std::span<const Value>(&arg, 1));
}

std::int32_t NextFinishedTransfer() {
    return FerryInteger(ferry::kNextFinishedTransfer);
}

TransferOutcome OutcomeOfTransfer(std::int32_t transfer) {
    const Value arg = IntegerValue(transfer);
    return static_cast<TransferOutcome>(
        FerryInteger(ferry::kTransferOutcome, std::span<const Value>(&arg, 1)));
}

std::int32_t RunningTransferCount() {
    return FerryInteger(ferry::kRunningTransfers);
}

void SetTransferBounds(std::uint32_t connectMs, std::uint32_t stallMs) {
    const std::array<Value, 2> args = {IntegerValue(static_cast<std::int32_t>(connectMs)),
                                       IntegerValue(static_cast<std::int32_t>(stallMs))};
    CallLibrary(row::kFerry, ferry::kSetTransferBounds, args);
}

void SweepStalePartFiles(const char* directory) {
    const Value arg = TextValue(directory);
    CallLibrary(row::kFerry, ferry::kSweepPartFiles, std::span<const Value>(&arg, 1));
}

}  // namespace tessel

#pragma once
// Command numbers of the support libraries, reached through the library-command slot by row,
// and typed wrappers for the transfer library's commands.
#include <cstdint>

#include "tessel/runtime/transfer_settings.h"
#include "tessel/runtime/value.h"

namespace tessel {

// ferry (row 2): the network transfer object. Each started download is a transfer of its own
// with a number (1, 2, ...); the program learns how each one ended by polling.
namespace ferry {
enum Command : std::uint32_t {
    // (holder as 0x30001, settings record as 0x30004) -> integer transfer number; 0 when the
    // arguments are not a holder and a record. Its address and target path are copied.
    kStartDownload = 1,
    kCurrentSpeed = 2,  // () -> integer bytes per second over the last second; 0 when none runs
    kRelease = 3,       // (holder as 0x30001) -> omitted; cancels all, deletes partial files
    kNextFinishedTransfer = 4,  // () -> integer number of an ended, unreported transfer, or 0
    kTransferOutcome = 5,       // (integer number) -> integer TransferOutcome
    kRunningTransfers = 6,      // () -> integer count of transfers not yet ended (also waiting)
    // (integer connect ms, integer stall ms) -> omitted; bounds of transfers started later
    // (15 s and 30 s; 0 or omitted restores the default)
    kSetTransferBounds = 7,
    // (text directory) -> omitted; deletes the part files that processes no longer running
    // left in the directory (a killed run), and nothing else
    kSweepPartFiles = 8,
};
}  // namespace ferry

enum class TransferOutcome : std::int32_t {
    kUnknown = -1,   // no transfer of that number
    kRunning = 0,    // waiting its turn (four run at once), connecting or receiving
    kCompleted = 1,  // the whole file is at the target path
    kFailed = 2,     // nothing of it is left: no file under its name, no partial file
    kCancelled = 3,
};

// --- typed wrappers -----------------------------------------------------------------------
std::int32_t StartTransfer(Word* holder, TransferSettings* record);
std::int32_t CurrentTransferSpeed();
void ReleaseTransfers(Word* holder);
std::int32_t NextFinishedTransfer();
TransferOutcome OutcomeOfTransfer(std::int32_t transfer);
std::int32_t RunningTransferCount();
void SetTransferBounds(std::uint32_t connectMs, std::uint32_t stallMs);
void SweepStalePartFiles(const char* directory);

}  // namespace tessel

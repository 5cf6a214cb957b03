#include "tessel/ferry/commands.h"

#include <algorithm>
#include <limits>
#include <memory>
#include <string>

#include "tessel/ferry/platform_seams.h"
#include "tessel/ferry/transfers.h"
#include "tessel/runtime/library_commands.h"
#include "tessel/runtime/transfer_settings.h"

namespace tessel::ferry {

namespace {

std::unique_ptr<Transfers> g_transfers;
Bounds g_bounds;

Transfers& Engine() {
    if (g_transfers == nullptr) {
        g_transfers = std::make_unique<Transfers>();
        g_transfers->SetBounds(g_bounds);
    }
    return *g_transfers;
}

std::string FieldText(const TransferSettings& record, int field) {
    const char* text = reinterpret_cast<const char*>(record.field(field));
    return text != nullptr ? text : "";
}

Word* Holder(std::uint32_t n, const Value* args) {
    return n >= 1 && args[0].tag == tag::kTransferObject ? reinterpret_cast<Word*>(args[0].low)
                                                         : nullptr;
}

// The address and the target path are the fields read; the others are not. The texts are
// copied: the program may change the record once the start has returned.
std::int32_t StartFromRecord(std::uint32_t n, const Value* args) {
    Word* holder = Holder(n, args);
    if (holder == nullptr || n < 2 || args[1].tag != tag::kTransferSettings || args[1].low == 0) {
        return 0;
    }
    const auto& record = *reinterpret_cast<const TransferSettings*>(args[1].low);
    Transfers& engine = Engine();
    *holder = reinterpret_cast<Word>(&engine);
    return engine.Start(FieldText(record, transfer_field::kAddress),
                        FieldText(record, transfer_field::kTargetPath));
}

std::uint32_t ArgMs(std::uint32_t n, const Value* args, std::uint32_t i, std::uint32_t fallback) {
    if (i >= n || args[i].tag != tag::kInteger || AsInteger(args[i]) <= 0) return fallback;
    return static_cast<std::uint32_t>(AsInteger(args[i]));
}

// The sweep looks in the folder of a path: a directory without a closing separator gets one.
std::string FolderPath(std::string directory) {
    if (!directory.empty() && directory.back() != '\\' && directory.back() != '/') {
        directory += '\\';
    }
    return directory;
}

}  // namespace

void RunCommand(std::uint32_t command, std::uint32_t n, const Value* args, Value* result) {
    *result = OmittedValue();
    switch (command) {
        case kStartDownload:
            *result = IntegerValue(StartFromRecord(n, args));
            return;
        case kCurrentSpeed: {
            const std::uint64_t speed = g_transfers != nullptr ? g_transfers->CurrentSpeed() : 0;
            *result = IntegerValue(static_cast<std::int32_t>(
                std::min<std::uint64_t>(speed, std::numeric_limits<std::int32_t>::max())));
            return;
        }
        case kRelease:
            g_transfers.reset();
            if (Word* holder = Holder(n, args); holder != nullptr) *holder = 0;
            return;
        case kNextFinishedTransfer:
            *result = IntegerValue(g_transfers != nullptr ? g_transfers->NextFinished() : 0);
            return;
        case kTransferOutcome: {
            const std::int32_t number = n >= 1 ? AsInteger(args[0]) : 0;
            const Outcome outcome =
                g_transfers != nullptr ? g_transfers->OutcomeOf(number) : Outcome::kUnknown;
            *result = IntegerValue(static_cast<std::int32_t>(outcome));
            return;
        }
        case kRunningTransfers:
            *result = IntegerValue(g_transfers != nullptr ? g_transfers->RunningCount() : 0);
            return;
        case kSetTransferBounds:
            g_bounds.connectMs = ArgMs(n, args, 0, Bounds{}.connectMs);
            g_bounds.stallMs = ArgMs(n, args, 1, Bounds{}.stallMs);
            if (g_transfers != nullptr) g_transfers->SetBounds(g_bounds);
            return;
        case kSweepPartFiles:
            if (n >= 1 && args[0].tag == tag::kText && args[0].low != 0) {
                SweepPartFiles(FolderPath(AsText(args[0])));
            }
            return;
        default:
            return;
    }
}

}  // namespace tessel::ferry

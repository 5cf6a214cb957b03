#include "tessel/app/downloads.h"

#include <map>
#include <string>

#include "tessel/app/playback.h"
#include "tessel/app/safe_file_name.h"
#include "tessel/app/save_directory.h"
#include "tessel/app/window_units.h"
#include "tessel/image/const_values.h"
#include "tessel/runtime/kernel.h"
#include "tessel/runtime/library_commands.h"
#include "tessel/runtime/program.h"
#include "tessel/runtime/units.h"

namespace tessel::app {

namespace {

constexpr std::int32_t kTickPeriodMs = 1000;
// The timer is never set to 0 again once started: a period this long stops it in effect.
constexpr std::int32_t kStoppedPeriodMs = 1000000000;
constexpr double kBytesPerShownMegabyte = 1024000.0;

// The song each running transfer downloads ("title - singer"), by transfer number.
std::map<std::int32_t, std::string> g_songNames;

// The record owns its texts: a field's old text goes when a new one comes.
void SetTextField(TransferSettings& record, int field, const char* text) {
    Free(reinterpret_cast<void*>(record.field(field)));
    record.field(field) = reinterpret_cast<Word>(CopyText(text));
}

Text SelectedCell(std::int32_t column) {
    return ListReadCell(kSongList, ListSelectedRow(kSongList), column);
}

void PlayCompletionSound() {
    const ByteArray sound =
        ByteArray::Copy(const_bytes::kCompletionSound, sizeof const_bytes::kCompletionSound);
    PlaySoundBytes(sound.get());
}

// Pane 2 names the song of each transfer that ended since the last tick.
void ReportEndedTransfers() {
    while (const std::int32_t transfer = NextFinishedTransfer()) {
        const auto song = g_songNames.find(transfer);
        const std::string name = song != g_songNames.end() ? song->second : std::string();
        if (song != g_songNames.end()) g_songNames.erase(song);
        switch (OutcomeOfTransfer(transfer)) {
            case TransferOutcome::kCompleted: {
                const Text text(JoinTexts({name.c_str(), texts::kDownloadDoneGap}));
                StatusSetPane(kStatusBar, pane::kDownload, text.c_str());
                PlayCompletionSound();
                break;
            }
            case TransferOutcome::kFailed: {
                const Text text(JoinTexts({name.c_str(), texts::kDownloadFailedGap}));
                StatusSetPane(kStatusBar, pane::kDownload, text.c_str());
                break;
            }
            default:  // cancelled: only the program's end cancels, nothing to show
                break;
        }
    }
}

}  // namespace

void OnDownload() {
    Text address;
    if (!SelectedAddress(address)) return;
    const Text title = SelectedCell(column::kTitle);
    const Text singer = SelectedCell(column::kSinger);
    const Text fileStem(JoinTexts({title.c_str(), texts::kUnderscore, singer.c_str()}));
    const Text songName(JoinTexts({title.c_str(), texts::kDash, singer.c_str()}));
    StartDownload(address.c_str(), fileStem.c_str(), songName.c_str());
}

void StartDownload(const char* url, const char* fileStem, const char* songName) {
    Globals& globals = ProgramGlobals();
    TransferSettings& record = *globals.transferSettings;
    record.field(transfer_field::kKind) = kDownloadKind;
    SetTextField(record, transfer_field::kAddress, url);
    const Text stored = StoredSaveDirectory();
    if (stored.empty()) {
        ShowMessageBox(texts::kSetSaveDirectoryFirst);
        return;
    }
    // A directory written into bc.ini by hand may lack its trailing separator.
    const Text directory = FinishedDirectory(stored.view());
    const std::string name =
        SafeFileName(directory.view(), fileStem != nullptr ? fileStem : "", texts::kMp3Extension);
    const Text target(JoinTexts({directory.c_str(), name.c_str()}));
    SetTextField(record, transfer_field::kTargetPath, target.c_str());
    record.field(transfer_field::kOption) = kDownloadOption;
    const std::int32_t transfer = StartTransfer(globals.transferHolder, &record);
    if (transfer != 0) g_songNames[transfer] = songName != nullptr ? songName : "";
    SetUnitInteger(kProgressTimer, unit_property::kTimerPeriod, kTickPeriodMs);
}

void OnProgressTick() {
    const double shown = RoundNumber(CurrentTransferSpeed() / kBytesPerShownMegabyte, 2);
    const Text value = NumberToText(shown);
    const Text speed(JoinTexts({texts::kSpeedLabel, value.c_str(), texts::kMegabytes}));
    StatusSetPane(kStatusBar, pane::kSpeed, speed.c_str());
    // Ended transfers are read from the transfer library, not guessed from a zero speed: a
    // transfer still connecting shows 0 MB and is not finished. The running count is read
    // before the ended ones are taken: a transfer that ends between the two reads is then
    // reported now or keeps the timer going, where the other order stopped the timer on it
    // unreported.
    const std::int32_t running = RunningTransferCount();
    ReportEndedTransfers();
    if (running == 0) SetUnitInteger(kProgressTimer, unit_property::kTimerPeriod, kStoppedPeriodMs);
}

}  // namespace tessel::app

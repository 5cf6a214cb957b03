#include "tessel/app/save_directory.h"

#include "tessel/app/safe_file_name.h"
#include "tessel/app/settings.h"
#include "tessel/app/window_units.h"
#include "tessel/image/const_values.h"
#include "tessel/runtime/kernel.h"
#include "tessel/runtime/library_commands.h"
#include "tessel/runtime/units.h"

namespace tessel::app {

Text FinishedDirectory(std::string_view path) {
    if (EndsWithSeparator(path)) return Text::Copy(path);
    const Text start = Text::Copy(path);
    const char* separator = DirectorySeparator(path) == '/' ? texts::kSlash : texts::kBackslash;
    return Text(JoinTexts({start.c_str(), separator}));
}

Text StoredSaveDirectory() {
    const Text file = SettingsFilePath();
    if (!FileExists(file.c_str())) return Text::Copy("");
    return ReadIni(file.c_str(), texts::kSettingsSection, texts::kSettingsKey);
}

void ShowStoredSaveDirectory() {
    // The file's existence, not the key's, decides whether the label is set.
    const Text file = SettingsFilePath();
    if (!FileExists(file.c_str())) return;
    const Text directory = ReadIni(file.c_str(), texts::kSettingsSection, texts::kSettingsKey);
    SetUnitText(kSaveDirectoryLabel, directory.c_str());
    // Part files that a killed run left in the directory go at start, as the player's copies do.
    if (!directory.empty()) SweepStalePartFiles(directory.c_str());
}

void OnChooseSaveDirectory() {
    const Text path = BrowseForFolder(texts::kChooseSaveDirectory, false);
    if (path.empty()) return;
    const Text directory = FinishedDirectory(path.view());
    const Text file = SettingsFilePath();
    if (!WriteIni(file.c_str(), texts::kSettingsSection, texts::kSettingsKey, directory.c_str())) {
        ShowMessageBox(texts::kSettingsNotWritten);
        return;
    }
    SetUnitText(kSaveDirectoryLabel, directory.c_str());
}

}  // namespace tessel::app

#include "tessel/app/settings.h"

#include "tessel/app/window_units.h"
#include "tessel/image/const_values.h"
#include "tessel/runtime/kernel.h"

namespace tessel::app {

Text SettingsFilePath() {
    const Text directory = ProgramDirectory();
    return Text(JoinTexts({directory.c_str(), texts::kSettingsFile}));
}

Text ApiHost() {
    const Text file = SettingsFilePath();
    const Text stored = ReadIni(file.c_str(), texts::kServiceSection, texts::kServiceHostKey);
    Text host = TrimText(stored.c_str());
    if (host.empty()) return Text::Copy(texts::kApiHost);
    return host;
}

void ShowStoredSaveDirectory() {
    const Text file = SettingsFilePath();
    const Text directory = ReadIni(file.c_str(), texts::kSettingsSection, texts::kSettingsKey);
    // The file's existence, not the key's, is what counts as "a directory was set".
    if (FileExists(file.c_str())) SetUnitText(kSaveDirectoryLabel, directory.c_str());
}

}  // namespace tessel::app

#include "tessel/app/settings.h"

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

}  // namespace tessel::app

#include "tessel/app/settings.h"

#include <cstring>

#include "tessel/app/window_units.h"
#include "tessel/discovery/find_catalogue.h"
#include "tessel/image/const_values.h"
#include "tessel/runtime/kernel.h"

namespace tessel::app {

namespace {

// How long one look for a catalogue on the local network may take, in milliseconds.
constexpr std::uint32_t kLookBoundMs = 1500;

// The catalogue found on the local network in this run ("address:port"), empty while none. A
// plain buffer, not a runtime text: it lives as long as the program and needs no clean-up.
char g_foundHost[64] = "";

Text NamedHost() {
    const Text file = SettingsFilePath();
    const Text stored = ReadIni(file.c_str(), texts::kServiceSection, texts::kServiceHostKey);
    return TrimText(stored.c_str());
}

}  // namespace

Text SettingsFilePath() {
    const Text directory = ProgramDirectory();
    return Text(JoinTexts({directory.c_str(), texts::kSettingsFile}));
}

Text ApiHost() {
    Text host = NamedHost();
    if (!host.empty()) return host;
    if (g_foundHost[0] != '\0') return Text::Copy(g_foundHost);
    return Text::Copy(texts::kApiHost);
}

bool LookForCatalogue() {
    if (g_foundHost[0] != '\0' || !NamedHost().empty()) return false;
    const Text found = discovery::FindCatalogue(kLookBoundMs);
    if (found.empty() || found.size() >= sizeof g_foundHost) return false;
    std::memcpy(g_foundHost, found.c_str(), found.size() + 1);
    return true;
}

void SayNoCatalogue() {
    const bool named = !NamedHost().empty();
    StatusSetPane(kStatusBar, pane::kState,
                  named ? texts::kStatusCatalogueSilent : texts::kStatusNoCatalogue);
    StatusSetPane(kStatusBar, pane::kDownload,
                  named ? texts::kNamedHostAdvice : texts::kNoCatalogueAdvice);
}

void TakeBackNoCatalogueAdvice() {
    const Text shown = StatusReadPane(kStatusBar, pane::kDownload);
    if (CompareTexts(shown.c_str(), texts::kNoCatalogueAdvice) == 0 ||
        CompareTexts(shown.c_str(), texts::kNamedHostAdvice) == 0) {
        StatusSetPane(kStatusBar, pane::kDownload, "");
    }
}

void ForgetFoundCatalogue() {
    g_foundHost[0] = '\0';
}

}  // namespace tessel::app

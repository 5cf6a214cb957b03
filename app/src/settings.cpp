#include "tessel/app/settings.h"

#include <string>

#include "tessel/app/window_units.h"
#include "tessel/discovery/find_catalogue.h"
#include "tessel/image/const_values.h"
#include "tessel/runtime/kernel.h"

namespace tessel::app {

namespace {

// How long one look for a catalogue on the local network may take, in milliseconds.
constexpr std::uint32_t kLookBoundMs = 1500;

// The catalogue found on the local network in this run ("address:port"), empty while none. Not
// a runtime text: it lives as long as the program, past the runtime's clean-up.
std::string g_foundHost;

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
    if (!g_foundHost.empty()) return Text::Copy(g_foundHost);
    return Text::Copy(texts::kApiHost);
}

bool LookForCatalogue() {
    if (!g_foundHost.empty() || !NamedHost().empty()) return false;
    const Text found = discovery::FindCatalogue(kLookBoundMs);
    g_foundHost = found.view();
    return !g_foundHost.empty();
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
    g_foundHost.clear();
}

}  // namespace tessel::app

#include "tessel/discovery/find_catalogue.h"

#include <algorithm>
#include <span>
#include <string>

#include "one_shot_query.h"
#include "service_browse.h"
#include "tessel/runtime/dll_commands.h"
#include "tessel/runtime/services.h"

namespace tessel::discovery {

namespace {

// While the system's browse runs, the query's wait is cut into short slices so that its answers
// are looked at soon after they come. Without it the slices are still short: the system rounds a
// long receive time-out up (Linux by as much as an eighth), which would overrun the bound.
constexpr std::uint32_t kBrowseSliceMs = 10;
constexpr std::uint32_t kSliceMs = 50;

std::uint32_t Now() {
    return static_cast<std::uint32_t>(CallDll(dll::kGetTickCount, std::span<const Word>()));
}

}  // namespace

// Both routes run at once within the one bound: the system's browse (which may never answer,
// as under Wine) and our own query; the first catalogue either names wins. The query is asked
// again once a third of the bound has passed without an answer, in case the first was lost.
Text FindCatalogue(std::uint32_t boundMs) {
    const std::uint32_t start = Now();
    ServiceBrowse browse;
    const bool browsing = browse.Start();
    OneShotQuery query;
    bool asked = query.Send();
    if (!browsing && !asked) return Text::Copy("");

    bool askedAgain = false;
    for (;;) {
        std::string found = browse.Poll();
        if (!found.empty()) return Text::Copy(found);
        const std::uint32_t spent = Now() - start;
        if (spent >= boundMs) break;
        if (!askedAgain && spent >= boundMs / 3) {
            askedAgain = true;
            asked = query.Send() || asked;  // an interface may have come up since
        }
        std::uint32_t wait = std::min(boundMs - spent, kSliceMs);
        if (!askedAgain) wait = std::min(wait, boundMs / 3 - spent + 1);
        if (browsing) wait = std::min(wait, kBrowseSliceMs);
        if (asked) {
            found = query.Receive(wait);
            if (!found.empty()) return Text::Copy(found);
        } else {
            // Without a query to wait on, the browse is looked at again after a short pause.
            const Word args[] = {wait};
            CallDll(dll::kSleep, args);
        }
    }
    browse.Cancel();
    return Text::Copy("");
}

}  // namespace tessel::discovery

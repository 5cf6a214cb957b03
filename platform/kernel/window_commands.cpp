#include "tessel/platform/window_commands.h"

#include "tessel/platform/arguments.h"

namespace tessel::platform {

namespace {

// A unit record names (window, unit); a window's own record may leave the unit word zero.
UnitRef RefOf(const Value& v) {
    const auto window = static_cast<std::uint32_t>(v.low);
    return {window, v.high != 0 ? v.high : window};
}

}  // namespace

bool RunWindowCommand(WindowOperations& windows, std::uint32_t command, std::uint32_t n,
                      const Value* args, Value* result) {
    const Value none{};
    const Value& first = n > 0 ? args[0] : none;
    switch (command) {
        case window_command::kCopyUnit:
            *result = n > 0 ? windows.CopyUnit({static_cast<std::uint32_t>(first.low), first.high})
                            : OmittedValue();
            return true;
        case window_command::kRouteEvents:
            if (n > 1)
                windows.RouteEvents({static_cast<std::uint32_t>(first.low), first.high},
                                    {static_cast<std::uint32_t>(args[1].low), args[1].high});
            return true;
        case window_command::kEventUnit:
            *result = windows.EventUnit();
            return true;
        case window_command::kIsCreated:
            *result = LogicalValue(first.low != 0 && windows.IsCreated(RefOf(first)));
            return true;
        case window_command::kLoadWindow:
            *result = LogicalValue(
                windows.LoadWindow(static_cast<std::uint32_t>(ArgInt(n, args, 0, 0))));
            return true;
        case window_command::kDestroyWindow:
            windows.DestroyWindow(static_cast<std::uint32_t>(ArgInt(n, args, 0, 0)));
            return true;
        case window_command::kPopUpMenu: {
            if (n < 2) return true;
            std::optional<std::pair<int, int>> at;
            if (ArgGiven(n, args, 2) && ArgGiven(n, args, 3))
                at = std::pair{ArgInt(n, args, 2, 0), ArgInt(n, args, 3, 0)};
            windows.PopUpMenu(static_cast<std::uint32_t>(first.low),
                              {static_cast<std::uint32_t>(args[1].low), args[1].high}, at);
            return true;
        }
        default:
            return false;
    }
}

void RunPlayerCommand(WindowOperations& windows, std::uint32_t command, std::uint32_t n,
                      const Value* args, Value* result) {
    *result = OmittedValue();
    if (n == 0) return;
    const UnitRef player{static_cast<std::uint32_t>(args[0].low), args[0].high};
    if (!windows.IsPlayer(player)) return;
    switch (command) {
        case player::kSetUrl:
            windows.SetPlayerUrl(player, ArgText(n, args, 1));
            return;
        case player::kControls:
            // The controls object is reached through the control itself.
            *result = UnitValue(player.window, player.unit, tag::kMediaPlayerControls);
            return;
        case player::kStop:
            windows.StopPlayer(player);
            return;
        default:
            return;
    }
}

}  // namespace tessel::platform

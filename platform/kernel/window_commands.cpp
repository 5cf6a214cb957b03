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

void ReadUnitProperty(WindowOperations& windows, UnitRef unit, std::uint32_t property,
                      Value* result) {
    const bool isText = property == unit_property::kText || property == unit_property::kTag;
    if (!windows.IsCreated(unit)) {
        *result = isText ? NewText("") : IntegerValue(0);
        return;
    }
    switch (property) {
        case unit_property::kText:
            *result = NewText(windows.Text(unit));
            return;
        case unit_property::kTag:
            *result = NewText(windows.Tag(unit));
            return;
        case unit_property::kLeft:
        case unit_property::kTop:
        case unit_property::kWidth:
        case unit_property::kHeight: {
            const UnitPlace p = windows.Place(unit);
            *result = IntegerValue(property == unit_property::kLeft    ? p.left
                                   : property == unit_property::kTop   ? p.top
                                   : property == unit_property::kWidth ? p.width
                                                                       : p.height);
            return;
        }
        case unit_property::kShown:
            *result = LogicalValue(windows.Shown(unit));
            return;
        case unit_property::kTextColour:
        case unit_property::kBackColour:
            *result = IntegerValue(static_cast<std::int32_t>(windows.Colour(unit, property)));
            return;
        case unit_property::kTimerPeriod:
            *result = IntegerValue(windows.TimerPeriod(unit));
            return;
        case unit_property::kAttribute24:
            *result = IntegerValue(windows.Attribute24(unit));
            return;
        default:
            *result = IntegerValue(0);
            return;
    }
}

void WriteUnitProperty(WindowOperations& windows, UnitRef unit, std::uint32_t property, Word low) {
    if (!windows.IsCreated(unit)) return;
    const auto integer = static_cast<std::int32_t>(static_cast<std::uint32_t>(low));
    const char* text = reinterpret_cast<const char*>(low);
    switch (property) {
        case unit_property::kText:
            windows.SetText(unit, text != nullptr ? text : "");
            return;
        case unit_property::kTag:
            windows.Tag(unit) = text != nullptr ? text : "";
            return;
        case unit_property::kLeft:
        case unit_property::kTop:
        case unit_property::kWidth:
        case unit_property::kHeight: {
            UnitPlace p = windows.Place(unit);
            (property == unit_property::kLeft    ? p.left
             : property == unit_property::kTop   ? p.top
             : property == unit_property::kWidth ? p.width
                                                 : p.height) = integer;
            windows.SetPlace(unit, p);
            return;
        }
        case unit_property::kShown:
            windows.SetShown(unit, low != 0);
            return;
        case unit_property::kTextColour:
        case unit_property::kBackColour:
            windows.SetColour(unit, property, static_cast<std::uint32_t>(integer));
            return;
        case unit_property::kTimerPeriod:
            windows.SetTimerPeriod(unit, integer);
            return;
        case unit_property::kAttribute24:
            windows.Attribute24(unit) = integer;
            return;
        default:
            return;
    }
}

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

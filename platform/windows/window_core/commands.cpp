#include "tessel/window_core/commands.h"

#include "tessel/kernel/arguments.h"
#include "tessel/window_core/records.h"

namespace tessel::windows {

namespace {

namespace type = image::unit_type;
using platform::ArgGiven;
using platform::ArgInt;
using platform::ArgText;

UnitRef PairOf(const Value& v) {
    return {static_cast<std::uint32_t>(v.low), v.high};
}

Value UnitRecord(const Unit* u) {
    return u != nullptr ? UnitValue(u->window, u->id, u->type) : OmittedValue();
}

// A loaded unit, or null after telling the toolkit that the program named another.
Unit* Named(WindowCore& core, UnitRef unit) {
    Unit* u = core.FindUnit(unit);
    if (u == nullptr) core.toolkit().NoSuchUnit(unit);
    return u;
}

// Left, top, width and height (properties 2 to 5): the sides of a unit's place.
bool IsSide(std::uint32_t property) {
    return property >= unit_property::kLeft && property <= unit_property::kHeight;
}

std::int32_t& Side(UnitPlace& p, std::uint32_t property) {
    return property == unit_property::kLeft    ? p.left
           : property == unit_property::kTop   ? p.top
           : property == unit_property::kWidth ? p.width
                                               : p.height;
}

UnitPlace PlaceOf(WindowCore& core, Unit& u) {
    return u.type == type::kTimer ? u.timerPlace : core.toolkit().Place(u);
}

}  // namespace

UnitRef RefOf(const Value& v) {
    const auto window = static_cast<std::uint32_t>(v.low);
    return {window, v.high != 0 ? v.high : window};
}

void ReadUnitProperty(WindowCore& core, UnitRef unit, std::uint32_t property, Value* result) {
    const bool isText = property == unit_property::kText || property == unit_property::kTag;
    Unit* u = Named(core, unit);
    if (u == nullptr) {
        *result = isText ? platform::NewText("") : IntegerValue(0);
        return;
    }
    Toolkit& toolkit = core.toolkit();
    if (IsSide(property)) {
        UnitPlace p = PlaceOf(core, *u);
        *result = IntegerValue(Side(p, property));
        return;
    }
    switch (property) {
        case unit_property::kText:
            *result = platform::NewText(toolkit.Text(*u));
            return;
        case unit_property::kTag:
            *result = platform::NewText(u->tag);
            return;
        case unit_property::kShown:
            *result = LogicalValue(toolkit.Shown(*u));
            return;
        case unit_property::kTextColour:
            *result = IntegerValue(static_cast<std::int32_t>(u->textColour));
            return;
        case unit_property::kBackColour:
            *result = IntegerValue(static_cast<std::int32_t>(u->backColour));
            return;
        case unit_property::kTimerPeriod:
            *result = IntegerValue(u->timerPeriod);
            return;
        case unit_property::kTagMark:
            *result = IntegerValue(u->tagMark);
            return;
        default:
            *result = IntegerValue(0);
            return;
    }
}

void WriteUnitProperty(WindowCore& core, UnitRef unit, std::uint32_t property, Word low) {
    Unit* u = Named(core, unit);
    if (u == nullptr) return;
    Toolkit& toolkit = core.toolkit();
    const auto integer = static_cast<std::int32_t>(static_cast<std::uint32_t>(low));
    const char* text = reinterpret_cast<const char*>(low);
    if (IsSide(property)) {
        UnitPlace p = PlaceOf(core, *u);
        Side(p, property) = integer;
        if (u->type == type::kTimer)
            u->timerPlace = p;
        else
            toolkit.SetPlace(*u, p);
        return;
    }
    switch (property) {
        case unit_property::kText:
            toolkit.SetText(*u, text != nullptr ? text : "");
            return;
        case unit_property::kTag:
            u->tag = text != nullptr ? text : "";
            return;
        case unit_property::kShown:
            toolkit.SetShown(*u, low != 0);
            return;
        case unit_property::kTextColour:
        case unit_property::kBackColour:
            (property == unit_property::kTextColour ? u->textColour : u->backColour) =
                static_cast<std::uint32_t>(integer);
            toolkit.ColoursChanged(*u);
            return;
        case unit_property::kTimerPeriod:
            u->timerPeriod = integer > 0 ? integer : 0;
            toolkit.TimerChanged(*u);
            return;
        case unit_property::kTagMark:
            u->tagMark = integer;
            return;
        default:
            return;
    }
}

bool RunWindowCommand(WindowCore& core, std::uint32_t command, std::uint32_t n, const Value* args,
                      Value* result) {
    const Value none{};
    const Value& first = n > 0 ? args[0] : none;
    switch (command) {
        case window_command::kCopyUnit: {
            const Unit* source = n > 0 ? Named(core, PairOf(first)) : nullptr;
            *result = source != nullptr ? UnitRecord(core.CopyUnit(*source)) : OmittedValue();
            return true;
        }
        case window_command::kRouteEvents:
            if (n > 1) {
                Unit* to = Named(core, PairOf(first));
                const Unit* from = Named(core, PairOf(args[1]));
                if (to != nullptr && from != nullptr) to->events = from->events;
            }
            return true;
        case window_command::kEventUnit:
            *result = UnitRecord(core.FindUnit(core.EventUnit()));
            return true;
        case window_command::kIsCreated:
            *result = LogicalValue(first.low != 0 && core.FindUnit(RefOf(first)) != nullptr);
            return true;
        case window_command::kLoadWindow:
            *result = LogicalValue(
                core.LoadWindow(static_cast<std::uint32_t>(ArgInt(n, args, 0, 0)), true));
            return true;
        case window_command::kDestroyWindow:
            core.DestroyWindow(static_cast<std::uint32_t>(ArgInt(n, args, 0, 0)));
            return true;
        case window_command::kPopUpMenu: {
            if (n < 2) return true;
            std::optional<std::pair<int, int>> at;
            if (ArgGiven(n, args, 2) && ArgGiven(n, args, 3))
                at = std::pair{ArgInt(n, args, 2, 0), ArgInt(n, args, 3, 0)};
            Window* w = core.LoadedWindow(static_cast<std::uint32_t>(first.low));
            Unit* menu = Named(core, PairOf(args[1]));
            if (w != nullptr && menu != nullptr && menu->isMenu)
                core.toolkit().PopUpMenu(*w, *menu, at);
            return true;
        }
        default:
            return false;
    }
}

void RunPlayerCommand(WindowCore& core, std::uint32_t command, std::uint32_t n, const Value* args,
                      Value* result) {
    *result = OmittedValue();
    if (n == 0) return;
    Unit* player = Named(core, PairOf(args[0]));
    if (player == nullptr || !core.toolkit().IsPlayer(*player)) return;
    switch (command) {
        case player::kSetUrl:
            core.toolkit().SetPlayerUrl(*player, ArgText(n, args, 1));
            return;
        case player::kControls:
            // The controls object is reached through the control itself.
            *result = UnitValue(player->window, player->id, tag::kMediaPlayerControls);
            return;
        case player::kStop:
            core.toolkit().StopPlayer(*player);
            return;
        default:
            return;
    }
}

namespace {

// What answers while no runtime with windows serves its own core: a form without windows.
WindowCore& EmptyCore() {
    static const image::Form noWindows;
    static RecordToolkit toolkit;
    static WindowCore core(toolkit, noWindows);
    return core;
}

WindowCore* g_served = nullptr;

}  // namespace

void Serve(WindowCore* core) {
    g_served = core;
}

WindowCore& Served() {
    return g_served != nullptr ? *g_served : EmptyCore();
}

void ReadUnitPropertySlot(std::uint32_t window, std::uint32_t unit, std::uint32_t property,
                          std::int32_t, Value* result) {
    ReadUnitProperty(Served(), {window, unit}, property, result);
}

void WriteUnitPropertySlot(std::uint32_t window, std::uint32_t unit, std::uint32_t property,
                           std::int32_t, Word low, std::uint32_t) {
    WriteUnitProperty(Served(), {window, unit}, property, low);
}

void LoadAndShowWindowSlot(std::uint32_t windowId) {
    Served().LoadWindow(windowId, true);
}

}  // namespace tessel::windows

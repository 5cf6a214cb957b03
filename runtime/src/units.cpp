#include "tessel/runtime/units.h"

#include <initializer_list>

#include "tessel/runtime/services.h"

namespace tessel {

namespace {

Value Kernel(std::uint32_t command, std::initializer_list<Value> args) {
    return CallKernel(command, std::span<const Value>(args.begin(), args.size()));
}
Value Library(std::uint32_t row, std::uint32_t command, std::initializer_list<Value> args) {
    return CallLibrary(row, command, std::span<const Value>(args.begin(), args.size()));
}
Text AdoptText(const Value& v) {
    return Text(const_cast<char*>(AsText(Expect(v, tag::kText))));
}
Value Unit(UnitRef u, std::uint32_t type) {
    return UnitValue(u.window, u.unit, type);
}
UnitRef RefOf(const Value& v) {
    return {static_cast<std::uint32_t>(v.low), v.high};
}

}  // namespace

Text ReadUnitText(UnitRef unit) {
    return AdoptText(ReadUnitProperty(unit.window, unit.unit, unit_property::kText));
}
void SetUnitText(UnitRef unit, const char* text) {
    WriteUnitProperty(unit.window, unit.unit, unit_property::kText, TextValue(text));
}
std::int32_t ReadUnitInteger(UnitRef unit, std::uint32_t property) {
    return AsInteger(ReadUnitProperty(unit.window, unit.unit, property));
}
void SetUnitInteger(UnitRef unit, std::uint32_t property, std::int32_t value) {
    WriteUnitProperty(unit.window, unit.unit, property, IntegerValue(value));
}
void SetUnitShown(UnitRef unit, bool shown) {
    WriteUnitProperty(unit.window, unit.unit, unit_property::kShown, LogicalValue(shown));
}
Text ReadUnitTag(UnitRef unit) {
    return AdoptText(ReadUnitProperty(unit.window, unit.unit, unit_property::kTag));
}
void SetUnitTag(UnitRef unit, const char* tag) {
    WriteUnitProperty(unit.window, unit.unit, unit_property::kTag, TextValue(tag));
}

UnitRef CopyUnit(UnitRef unit, std::uint32_t type) {
    return RefOf(Expect(Kernel(window_command::kCopyUnit, {Unit(unit, type)}), type));
}
void RouteEvents(UnitRef unit, UnitRef source, std::uint32_t type) {
    Kernel(window_command::kRouteEvents, {Unit(unit, type), Unit(source, type)});
}
UnitRef EventUnit() {
    return RefOf(Kernel(window_command::kEventUnit, {}));
}
bool IsUnitCreated(UnitRef unit) {
    return AsLogical(
        Expect(Kernel(window_command::kIsCreated, {Unit(unit, tag::kWindow)}), tag::kLogical));
}
bool LoadWindow(std::uint32_t windowId, bool modal) {
    return AsLogical(
        Expect(Kernel(window_command::kLoadWindow,
                      {IntegerValue(static_cast<std::int32_t>(windowId)), LogicalValue(modal)}),
               tag::kLogical));
}
void DestroyWindow(std::uint32_t windowId) {
    Kernel(window_command::kDestroyWindow, {IntegerValue(static_cast<std::int32_t>(windowId))});
}
void PopUpMenu(std::uint32_t windowId, UnitRef menu) {
    Kernel(window_command::kPopUpMenu,
           {UnitValue(windowId, windowId, tag::kWindow), Unit(menu, tag::kMenuItem), OmittedValue(),
            OmittedValue()});
}

void ListDeleteAll(UnitRef list) {
    Library(row::kFacet, facet::kListDeleteAll, {Unit(list, tag::kReportList)});
}
std::int32_t ListAppendRow(UnitRef list) {
    return AsInteger(Expect(Library(row::kFacet, facet::kListAppendRow,
                                    {Unit(list, tag::kReportList), OmittedValue(), OmittedValue(),
                                     OmittedValue(), OmittedValue()}),
                            tag::kInteger));
}
std::int32_t ListRowCount(UnitRef list) {
    return AsInteger(Expect(
        Library(row::kFacet, facet::kListRowCount, {Unit(list, tag::kReportList)}), tag::kInteger));
}
bool ListSetCell(UnitRef list, std::int32_t row, std::int32_t column, const char* text) {
    return AsLogical(Library(
        row::kFacet, facet::kListSetCell,
        {Unit(list, tag::kReportList), IntegerValue(row), IntegerValue(column), TextValue(text)}));
}
Text ListReadCell(UnitRef list, std::int32_t row, std::int32_t column) {
    return AdoptText(
        Library(row::kFacet, facet::kListReadCell,
                {Unit(list, tag::kReportList), IntegerValue(row), IntegerValue(column)}));
}
std::int32_t ListSelectedRow(UnitRef list) {
    return AsInteger(
        Expect(Library(row::kFacet, facet::kListSelectedRow, {Unit(list, tag::kReportList)}),
               tag::kInteger));
}
bool StatusSetPane(UnitRef bar, std::int32_t pane, const char* text) {
    return AsLogical(Library(row::kFacet, facet::kStatusSetPane,
                             {Unit(bar, tag::kStatusBar), IntegerValue(pane), TextValue(text)}));
}
Text StatusReadPane(UnitRef bar, std::int32_t pane) {
    return AdoptText(Library(row::kFacet, facet::kStatusReadPane,
                             {Unit(bar, tag::kStatusBar), IntegerValue(pane)}));
}

Text BrowseForFolder(const char* title, bool option) {
    return AdoptText(
        Library(row::kVestry, vestry::kBrowseForFolder, {TextValue(title), LogicalValue(option)}));
}
void PlayerSetUrl(UnitRef player, const char* url) {
    Library(row::kMediaPlayer, player::kSetUrl, {Unit(player, tag::kMediaPlayer), TextValue(url)});
}
void PlayerStop(UnitRef player) {
    const Value controls =
        Expect(Library(row::kMediaPlayer, player::kControls, {Unit(player, tag::kMediaPlayer)}),
               tag::kMediaPlayerControls);
    Library(row::kMediaPlayer, player::kStop, {controls});
}

}  // namespace tessel

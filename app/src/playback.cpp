#include "tessel/app/playback.h"

#include "tessel/app/window_units.h"
#include "tessel/runtime/kernel.h"
#include "tessel/runtime/units.h"

namespace tessel::app {

bool SelectedAddress(Text& address) {
    const std::int32_t row = ListSelectedRow(kSongList);
    if (row < 0) return false;
    address = ListReadCell(kSongList, row, column::kAddress);
    return !address.empty();
}

void OnPlay() {
    Text address;
    if (!SelectedAddress(address)) return;
    if (IsUnitCreated(kPlayerWindow)) {
        SetUnitShown(kPlayerWindow, true);
    } else if (!LoadWindow(kPlayerWindowId, false)) {
        return;
    }
    // The control's autoStart is on: the address starts playing by itself.
    PlayerSetUrl(kPlayer, address.c_str());
}

void OnListDoubleClick() {
    OnPlay();
}

void OnListRightClick() {
    PopUpMenu(kMainWindowId, kListMenu);
}

void OnCopyAddress() {
    Text address;
    if (!SelectedAddress(address)) return;
    SetClipboardText(address.c_str());
}

bool OnPlayerWindowCloseQuery() {
    PlayerStop(kPlayer);
    SetUnitShown(kPlayerWindow, false);
    return false;
}

void OnPlayerOpenStateChange(std::int32_t) {}

void OnMainWindowDestroy() {
    if (IsUnitCreated(kPlayerWindow)) DestroyWindow(kPlayerWindowId);
}

}  // namespace tessel::app

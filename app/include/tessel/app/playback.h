#pragma once
// Playback and the list menu: playing or copying the selected song's address, the menu over the
// song list, the player window's close box, and the player window's end with the main window.
#include <cstdint>

#include "tessel/runtime/text.h"

namespace tessel::app {

// The download address (column 4) of the selected song row, read afresh. False when no row is
// selected or its address is empty: then there is nothing to play, copy or download.
bool SelectedAddress(Text& address);

// Plays the selected row in the player window: loads the window the first time (nothing
// happens when that fails), shows it again later, and gives the control the address.
void OnPlay();
// A double-click on the list plays the row, as 播放 does.
void OnListDoubleClick();
// Pops up 菜单 (播放, 下载, 复制下载地址) at the mouse pointer.
void OnListRightClick();
// Puts exactly the selected row's address on the clipboard.
void OnCopyAddress();
// The close box stops playback and hides the player window; the answer is always false, so
// the window keeps its control and the address last set.
bool OnPlayerWindowCloseQuery();
// The control's new open state; nothing depends on it.
void OnPlayerOpenStateChange(std::int32_t state);
// The player window refuses to close, so it goes with the main window.
void OnMainWindowDestroy();

}  // namespace tessel::app

#pragma once
// Handlers whose work arrives later (playback and the list menu). Until then they do nothing, so
// the windows stay usable.
#include <cstdint>

namespace tessel::app {

void OnListRightClick();
void OnListDoubleClick();
void OnPlay();
void OnCopyAddress();
// Answers whether the player window may close.
bool OnPlayerWindowCloseQuery();
void OnPlayerOpenStateChange(std::int32_t state);
void OnMainWindowDestroy();

}  // namespace tessel::app

#pragma once
// Handlers whose work arrives later (downloads, the save-directory setting). Until then they do
// nothing, so the windows stay usable.

namespace tessel::app {

void OnDownload();
void OnProgressTick();
void OnChooseSaveDirectory();

}  // namespace tessel::app

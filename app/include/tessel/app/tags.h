#pragma once
// Collection tags: at start one label per collection of the catalogue, laid out in rows under
// the search box, as many rows as leave the song list room for ten songs; the list then fills
// the room between the last row and the status bar. Pressing a tag lists its songs.

namespace tessel::app {

void OnMainWindowCreated();
void OnTagClick();

}  // namespace tessel::app

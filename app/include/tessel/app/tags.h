#pragma once
// Collection tags: at start one label per collection of the catalogue, laid out in rows under
// the search box with the song list moved below them; pressing one lists its songs.

namespace tessel::app {

void OnMainWindowCreated();
void OnTagClick();

}  // namespace tessel::app

#pragma once
// Downloads through the transfer library and their progress in the status bar. Every download
// is a transfer of its own; the timer 时钟1 polls once a second while any runs: pane 1 shows the
// speed of all of them together, pane 2 names each song whose transfer ended, completed (with
// the completion sound) or failed.
#include <cstdint>

namespace tessel::app {

// The click handler of the menu item 下载: the selected song (nothing when no row is selected).
void OnDownload();

// Downloads `url` into the save directory as `fileStem` (made safe as a file name) + ".mp3";
// `songName` ("title - singer") names the song when its transfer ends. Without a stored save
// directory it asks for one ("请先设置保存目录") and starts nothing.
void StartDownload(const char* url, const char* fileStem, const char* songName);

// The tick handler of 时钟1.
void OnProgressTick();

}  // namespace tessel::app

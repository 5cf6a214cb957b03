#pragma once
// The host's own child window, which the control lives in: it passes on resizing, its own
// destruction and the end of a download to the host.
#include <windows.h>

#include "media_player_host.h"

namespace tessel::player {

// The module this code is linked into (basalt.fnr, or a test program).
HINSTANCE ThisModule();
// A container window in `rect` of `parent`, reporting to `host`; null when it cannot be made.
HWND CreateContainerWindow(HWND parent, const RECT& rect, MediaPlayerHost* host);

}  // namespace tessel::player

#pragma once
// Where the window system creates the media player control unit (`播放器1`). The media player
// host plugs a factory in here; without one the unit is a static window that says the control
// is not registered, and its commands do nothing.
#include <windows.h>

#include <functional>
#include <memory>

#include "tessel/image/form.h"

namespace tessel::basalt {

class PlayerUnit {
  public:
    virtual ~PlayerUnit() = default;
    virtual HWND Window() const = 0;
    virtual void SetUrl(const wchar_t* url) = 0;
    virtual void Stop() = 0;
};

struct PlayerPlacement {
    HWND parent = nullptr;
    RECT rect{};
    int controlId = 0;
    const image::MediaPlayerProperties* properties = nullptr;
    // The control's events, numbered as in the form, with the new state they report.
    std::function<void(int event, int value)> onEvent;
};

using PlayerFactory = std::unique_ptr<PlayerUnit> (*)(const PlayerPlacement& placement);
void SetPlayerFactory(PlayerFactory factory);
std::unique_ptr<PlayerUnit> CreatePlayerUnit(const PlayerPlacement& placement);

// Plugs in the Windows Media Player control through its host (what the runtime does at start),
// and removes the temporary copies of songs that an earlier run, killed, left behind.
void UseHostedPlayer();
// Deletes the copies of songs this process made for the control. The end of the program calls
// it after the players are released, so no control holds a copy open.
void DeletePlayerCopies();

}  // namespace tessel::basalt

#pragma once
// The media player control's properties as the form stores them: 23 values in a fixed order and
// the extent. A value missing or of another type keeps the property's default.
#include "media_player_host.h"
#include "tessel/image/form.h"

namespace tessel::player {

PlayerProperties PropertiesFrom(const image::MediaPlayerProperties* stored);

}  // namespace tessel::player

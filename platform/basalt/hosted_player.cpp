// The player unit as the Windows Media Player control, through the control host: the form's
// stored properties become the host's, and the control's events are raised on the unit.
#include <memory>
#include <string>

#include "media_player_host.h"
#include "stored_properties.h"
#include "tessel/basalt/player_slot.h"

namespace tessel::basalt {

namespace {

class HostedPlayer final : public PlayerUnit {
  public:
    explicit HostedPlayer(std::function<void(int)> onEvent) : onEvent_(std::move(onEvent)) {}

    // When the control cannot be started the host shows why in the same place, so the unit
    // stands either way.
    void Create(const PlayerPlacement& placement) {
        host_.Create(placement.parent, placement.rect, player::PropertiesFrom(placement.properties),
                     &HostedPlayer::OnEvent, this);
    }
    HWND Window() const override { return host_.ContainerWindow(); }
    void SetUrl(const wchar_t* url) override { host_.SetUrl(url); }
    void Stop() override { host_.Stop(); }

  private:
    static void OnEvent(void* context, int eventNumber, long) {
        auto* self = static_cast<HostedPlayer*>(context);
        if (self->onEvent_) self->onEvent_(eventNumber);
    }

    std::function<void(int)> onEvent_;
    player::MediaPlayerHost host_;
};

std::unique_ptr<PlayerUnit> MakeHostedPlayer(const PlayerPlacement& placement) {
    auto unit = std::make_unique<HostedPlayer>(placement.onEvent);
    unit->Create(placement);
    if (unit->Window() == nullptr) return nullptr;  // not even a window: the plain stand-in
    return unit;
}

}  // namespace

void UseHostedPlayer() {
    SetPlayerFactory(&MakeHostedPlayer);
}

}  // namespace tessel::basalt

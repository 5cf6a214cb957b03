#include "tessel/basalt/player_slot.h"

namespace tessel::basalt {

namespace {

PlayerFactory g_factory = nullptr;

// Stands where the control would be when no host is plugged in.
class UnregisteredPlayer final : public PlayerUnit {
  public:
    explicit UnregisteredPlayer(const PlayerPlacement& placement) {
        window_ = CreateWindowExW(
            0, L"Static", L"control not registered", WS_CHILD | WS_VISIBLE | SS_CENTER,
            placement.rect.left, placement.rect.top, placement.rect.right - placement.rect.left,
            placement.rect.bottom - placement.rect.top, placement.parent,
            reinterpret_cast<HMENU>(static_cast<INT_PTR>(placement.controlId)), nullptr, nullptr);
    }
    HWND Window() const override { return window_; }
    void SetUrl(const wchar_t*) override {}
    void Stop() override {}

  private:
    HWND window_ = nullptr;
};

}  // namespace

void SetPlayerFactory(PlayerFactory factory) {
    g_factory = factory;
}

std::unique_ptr<PlayerUnit> CreatePlayerUnit(const PlayerPlacement& placement) {
    if (g_factory != nullptr) {
        if (auto unit = g_factory(placement)) return unit;
    }
    return std::make_unique<UnregisteredPlayer>(placement);
}

}  // namespace tessel::basalt

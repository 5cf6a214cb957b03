#include "tessel/basalt/player_slot.h"

namespace tessel::basalt {

namespace {

PlayerFactory g_factory = nullptr;

// Stands where the control would be when no host is plugged in.
class UnregisteredPlayer final : public PlayerUnit {
  public:
    explicit UnregisteredPlayer(const PlayerUnitSpec& spec) {
        window_ = CreateWindowExW(
            0, L"Static", L"control not registered", WS_CHILD | WS_VISIBLE | SS_CENTER,
            spec.rect.left, spec.rect.top, spec.rect.right - spec.rect.left,
            spec.rect.bottom - spec.rect.top, spec.parent,
            reinterpret_cast<HMENU>(static_cast<INT_PTR>(spec.controlId)), nullptr, nullptr);
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

std::unique_ptr<PlayerUnit> CreatePlayerUnit(const PlayerUnitSpec& spec) {
    if (g_factory != nullptr) {
        if (auto unit = g_factory(spec)) return unit;
    }
    return std::make_unique<UnregisteredPlayer>(spec);
}

}  // namespace tessel::basalt

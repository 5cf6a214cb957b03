// The player unit as the Windows Media Player control, through the control host: the form's
// stored properties become the host's, and the control's events are raised on the unit.
#include <memory>
#include <string>

#include "media_player_host.h"
#include "stored_properties.h"
#include "temporary_copies.h"
#include "tessel/basalt/player_slot.h"
#include "tessel/window_core/unit_rules.h"

namespace tessel::basalt {

namespace {

std::string Utf8(const std::wstring& text) {
    const int bytes = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                          nullptr, 0, nullptr, nullptr);
    std::string utf8(static_cast<std::size_t>(bytes), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), utf8.data(), bytes,
                        nullptr, nullptr);
    return utf8;
}

// What the program asks of the control and the states the control reports, appended to the
// player's trace file when the environment names one.
class PlayerLog {
  public:
    PlayerLog() {
        const std::string name = windows::kPlayerTraceVariable;
        const std::wstring variable(name.begin(), name.end());  // ASCII
        wchar_t path[MAX_PATH + 1] = {};
        const DWORD length = GetEnvironmentVariableW(variable.c_str(), path, MAX_PATH + 1);
        if (length > 0 && length <= MAX_PATH) path_ = path;
    }
    void Write(const std::string& utf8Line) const {
        if (path_.empty()) return;
        const std::string line = utf8Line + "\n";
        HANDLE file =
            CreateFileW(path_.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                        nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file == INVALID_HANDLE_VALUE) return;
        DWORD written = 0;
        WriteFile(file, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
        CloseHandle(file);
    }

  private:
    std::wstring path_;
};

class HostedPlayer final : public PlayerUnit {
  public:
    explicit HostedPlayer(std::function<void(int, int)> onEvent) : onEvent_(std::move(onEvent)) {}

    // When the control cannot be started the host shows why in the same place, so the unit
    // stands either way.
    void Create(const PlayerPlacement& placement) {
        host_.Create(placement.parent, placement.rect, player::PropertiesFrom(placement.properties),
                     &HostedPlayer::OnEvent, this);
    }
    HWND Window() const override { return host_.ContainerWindow(); }
    void SetUrl(const wchar_t* url) override {
        log_.Write(windows::PlayerUrlTrace(Utf8(url != nullptr ? url : L"")));
        host_.SetUrl(url);
    }
    void Stop() override {
        log_.Write(windows::PlayerStopTrace());
        host_.Stop();
    }

  private:
    static void OnEvent(void* context, int eventNumber, long value) {
        auto* self = static_cast<HostedPlayer*>(context);
        self->log_.Write(windows::PlayerStateTrace(eventNumber, static_cast<int>(value)));
        if (self->onEvent_) self->onEvent_(eventNumber, static_cast<int>(value));
    }

    std::function<void(int, int)> onEvent_;
    PlayerLog log_;
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
    player::SweepAbandonedCopies();
}

void DeletePlayerCopies() {
    player::DeleteAllCopies();
}

}  // namespace tessel::basalt

#pragma once
// The media player unit: Qt Multimedia playing the song's address directly, with a compact
// control of the unit's size (play/pause, stop, position, time). Its open-state and play-state
// changes reach the unit's events with the numbers of the Windows control (WMPOpenState,
// WMPPlayState).
#include <QWidget>
#include <string>

#include "window_state.h"

class QAudioOutput;
class QLabel;
class QMediaPlayer;
class QSlider;
class QToolButton;

namespace tessel::qt {

// The control's event numbers and the state values raised with them.
namespace player_event {
inline constexpr int kOpenStateChange = 0;
inline constexpr int kPlayStateChange = 1;
}  // namespace player_event
namespace open_state {
inline constexpr int kMediaChanging = 8;
inline constexpr int kMediaOpening = 12;
inline constexpr int kMediaOpen = 13;
}  // namespace open_state
namespace play_state {
inline constexpr int kStopped = 1;
inline constexpr int kPaused = 2;
inline constexpr int kPlaying = 3;
inline constexpr int kBuffering = 6;
inline constexpr int kMediaEnded = 8;
}  // namespace play_state

class PlayerWidget final : public QWidget {
  public:
    PlayerWidget(std::uint32_t window, std::uint32_t unit, const image::MediaPlayerProperties* p,
                 QWidget* parent);
    void SetUrl(const QString& url);
    void Stop();
    QMediaPlayer* Media() const { return media_; }

  private:
    void Raise(int event, int value);
    void ShowPosition(qint64 ms);

    std::uint32_t window_, unit_;
    bool autoStart_ = true;
    int lastOpenState_ = -1;
    QMediaPlayer* media_;
    QAudioOutput* audio_;
    QToolButton* playPause_;
    QToolButton* stop_;
    QSlider* position_;
    QLabel* time_;
};

PlayerWidget* MakePlayer(QWidget* window, windows::Unit& unit);

}  // namespace tessel::qt

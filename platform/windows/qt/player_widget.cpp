#include "player_widget.h"

#include <QAudioOutput>
#include <QHBoxLayout>
#include <QLabel>
#include <QMediaPlayer>
#include <QSlider>
#include <QStyle>
#include <QToolButton>
#include <QUrl>

#include "tessel/runtime/units.h"

namespace tessel::qt {

namespace {

// Stored property values in the control's order: autoStart is the 7th, volume the 11th.
constexpr std::size_t kAutoStartValue = 6;
constexpr std::size_t kVolumeValue = 10;

QString Clock(qint64 ms) {
    const qint64 s = ms / 1000;
    return QStringLiteral("%1:%2").arg(s / 60, 2, 10, QChar('0')).arg(s % 60, 2, 10, QChar('0'));
}

}  // namespace

PlayerWidget::PlayerWidget(std::uint32_t window, std::uint32_t unit,
                           const image::MediaPlayerProperties* p, QWidget* parent)
    : QWidget(parent),
      window_(window),
      unit_(unit),
      media_(new QMediaPlayer(this)),
      audio_(new QAudioOutput(this)),
      playPause_(new QToolButton(this)),
      stop_(new QToolButton(this)),
      position_(new QSlider(Qt::Horizontal, this)),
      time_(new QLabel(this)) {
    float volume = 1.0F;
    if (p != nullptr && p->values.size() > kVolumeValue) {
        const auto& autoStart = p->values[kAutoStartValue];
        if (autoStart.type == image::ControlValue::kLogical) autoStart_ = autoStart.logical;
        const auto& v = p->values[kVolumeValue];
        if (v.type == image::ControlValue::kInteger)
            volume = static_cast<float>(std::clamp(v.integer, 0, 100)) / 100.0F;
    }
    audio_->setVolume(volume);
    media_->setAudioOutput(audio_);

    playPause_->setIcon(style()->standardIcon(QStyle::SP_MediaPlay));
    playPause_->setAccessibleName(QStringLiteral("播放/暂停"));
    stop_->setIcon(style()->standardIcon(QStyle::SP_MediaStop));
    stop_->setAccessibleName(QStringLiteral("停止"));
    position_->setAccessibleName(QStringLiteral("播放位置"));
    time_->setText(Clock(0) + QStringLiteral(" / ") + Clock(0));
    time_->setAccessibleName(QStringLiteral("播放时间"));
    for (QWidget* w : {static_cast<QWidget*>(playPause_), static_cast<QWidget*>(stop_)})
        w->setFocusPolicy(Qt::TabFocus);
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(4, 2, 4, 2);
    row->setSpacing(4);
    row->addWidget(playPause_);
    row->addWidget(stop_);
    row->addWidget(position_, 1);
    row->addWidget(time_);

    connect(playPause_, &QToolButton::clicked, this, [this] {
        if (media_->playbackState() == QMediaPlayer::PlayingState)
            media_->pause();
        else
            media_->play();
    });
    connect(stop_, &QToolButton::clicked, this, [this] { Stop(); });
    connect(position_, &QSlider::sliderMoved, media_, &QMediaPlayer::setPosition);
    connect(media_, &QMediaPlayer::durationChanged, this, [this](qint64 ms) {
        position_->setRange(0, static_cast<int>(ms));
        ShowPosition(media_->position());
    });
    connect(media_, &QMediaPlayer::positionChanged, this, [this](qint64 ms) { ShowPosition(ms); });
    connect(media_, &QMediaPlayer::mediaStatusChanged, this, [this](QMediaPlayer::MediaStatus s) {
        switch (s) {
            case QMediaPlayer::LoadingMedia:
                Raise(player_event::kOpenStateChange, open_state::kMediaOpening);
                break;
            case QMediaPlayer::LoadedMedia:
            case QMediaPlayer::BufferedMedia:
                Raise(player_event::kOpenStateChange, open_state::kMediaOpen);
                break;
            case QMediaPlayer::StalledMedia:
            case QMediaPlayer::BufferingMedia:
                Raise(player_event::kPlayStateChange, play_state::kBuffering);
                break;
            case QMediaPlayer::EndOfMedia:
                Raise(player_event::kPlayStateChange, play_state::kMediaEnded);
                break;
            default:
                break;
        }
    });
    connect(
        media_, &QMediaPlayer::playbackStateChanged, this, [this](QMediaPlayer::PlaybackState s) {
            playPause_->setIcon(style()->standardIcon(
                s == QMediaPlayer::PlayingState ? QStyle::SP_MediaPause : QStyle::SP_MediaPlay));
            Raise(player_event::kPlayStateChange,
                  s == QMediaPlayer::PlayingState  ? play_state::kPlaying
                  : s == QMediaPlayer::PausedState ? play_state::kPaused
                                                   : play_state::kStopped);
        });
    connect(media_, &QMediaPlayer::errorOccurred, this,
            [](QMediaPlayer::Error, const QString& text) {
                AppendTrace(windows::kPlayerTraceVariable, "error " + text.toStdString());
            });
}

void PlayerWidget::SetUrl(const QString& url) {
    AppendTrace(windows::kPlayerTraceVariable, windows::PlayerUrlTrace(url.toStdString()));
    lastOpenState_ = -1;
    Raise(player_event::kOpenStateChange, open_state::kMediaChanging);
    media_->setSource(QUrl(url));
    if (autoStart_ && !url.isEmpty()) media_->play();
}

void PlayerWidget::Stop() {
    AppendTrace(windows::kPlayerTraceVariable, windows::PlayerStopTrace());
    media_->stop();
}

void PlayerWidget::ShowPosition(qint64 ms) {
    // A stream may not tell its duration: the scale then grows with the position.
    if (position_->maximum() < ms) position_->setMaximum(static_cast<int>(ms));
    if (!position_->isSliderDown()) position_->setValue(static_cast<int>(ms));
    time_->setText(Clock(ms) + QStringLiteral(" / ") + Clock(media_->duration()));
}

void PlayerWidget::Raise(int event, int value) {
    if (event == player_event::kOpenStateChange) {
        if (value == lastOpenState_) return;  // buffered after loaded is the same open media
        lastOpenState_ = value;
    }
    AppendTrace(windows::kPlayerTraceVariable, windows::PlayerStateTrace(event, value));
    Windows().RaiseIfLoaded({window_, unit_}, event, value);
}

PlayerWidget* MakePlayer(QWidget* window, windows::Unit& u) {
    return new PlayerWidget(
        u.window, u.id, std::get_if<image::MediaPlayerProperties>(&u.record->properties), window);
}

}  // namespace tessel::qt

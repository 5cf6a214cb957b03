// The form's stored values of the media player control, in their stored order, as the host's
// properties.
#include "stored_properties.h"

namespace tessel::player {

namespace {

using image::ControlValue;

// The stored values come in a fixed order; a value missing or of another type keeps its default.
class StoredValues {
  public:
    explicit StoredValues(const image::MediaPlayerProperties* p) : p_(p) {}
    void Text(std::size_t i, std::wstring* out) const {
        if (const auto* v = At(i, ControlValue::kText)) out->assign(v->text.begin(), v->text.end());
    }
    void Number(std::size_t i, double* out) const {
        if (const auto* v = At(i, ControlValue::kDouble)) *out = v->number;
    }
    void Integer(std::size_t i, long* out) const {
        if (const auto* v = At(i, ControlValue::kInteger)) *out = v->integer;
    }
    void Logical(std::size_t i, bool* out) const {
        if (const auto* v = At(i, ControlValue::kLogical)) *out = v->logical;
    }

  private:
    const ControlValue* At(std::size_t i, std::uint16_t type) const {
        if (p_ == nullptr || i >= p_->values.size() || p_->values[i].type != type) return nullptr;
        return &p_->values[i];
    }
    const image::MediaPlayerProperties* p_;
};

}  // namespace

PlayerProperties PropertiesFrom(const image::MediaPlayerProperties* stored) {
    PlayerProperties p;
    const StoredValues v(stored);
    v.Text(0, &p.url);
    v.Number(1, &p.rate);
    v.Integer(2, &p.balance);
    v.Number(3, &p.currentPosition);
    v.Text(4, &p.defaultFrame);
    v.Integer(5, &p.playCount);
    v.Logical(6, &p.autoStart);
    v.Integer(7, &p.currentMarker);
    v.Logical(8, &p.invokeURLs);
    v.Text(9, &p.baseURL);
    v.Integer(10, &p.volume);
    v.Logical(11, &p.mute);
    v.Text(12, &p.uiMode);
    v.Logical(13, &p.stretchToFit);
    v.Logical(14, &p.windowlessVideo);
    v.Logical(15, &p.enabled);
    v.Logical(16, &p.enableContextMenu);
    v.Logical(17, &p.fullScreen);
    v.Text(18, &p.samiStyle);
    v.Text(19, &p.samiLang);
    v.Text(20, &p.samiFilename);
    v.Text(21, &p.captioningId);
    v.Logical(22, &p.enableErrorDialogs);
    if (stored != nullptr && stored->extentX != 0 && stored->extentY != 0) {
        p.extentWidth = static_cast<long>(stored->extentX);
        p.extentHeight = static_cast<long>(stored->extentY);
    }
    return p;
}

}  // namespace tessel::player

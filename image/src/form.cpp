#include "tessel/image/form.h"

#include "form_records.h"

namespace tessel::image {

namespace {

using form_codec::FormDecoder;
using form_codec::FormEncoder;

void EncodeUnit(ByteWriter& w, const Unit& u) {
    const auto lengthAt = w.Size();
    w.U32(0);
    FormEncoder encoder(w);
    form_records::UnitRecord(encoder, u);
    w.PatchU32(lengthAt, static_cast<std::uint32_t>(w.Size() - lengthAt - 4));
}

bool DecodeUnit(std::span<const std::uint8_t> record, Unit& u, std::string& error) {
    FormDecoder decoder(record);
    form_records::UnitRecord(decoder, u);
    error = decoder.Error();
    return error.empty();
}

}  // namespace

UnitProperties form_codec::EmptyPropertiesOf(std::uint32_t type) {
    switch (type) {
        case unit_type::kWindow:
            return WindowProperties{};
        case unit_type::kMenuItem:
            return MenuItemProperties{};
        case unit_type::kLabel:
            return LabelProperties{};
        case unit_type::kEditBox:
            return EditBoxProperties{};
        case unit_type::kButton:
            return ButtonProperties{};
        case unit_type::kTimer:
            return TimerProperties{};
        case unit_type::kStatusBar:
            return StatusBarProperties{};
        case unit_type::kReportList:
            return ReportListProperties{};
        case unit_type::kMediaPlayer:
            return MediaPlayerProperties{};
        default:
            return Bytes{};
    }
}

std::uint32_t PropertiesVersion(std::uint32_t type) {
    switch (type) {
        case unit_type::kWindow:
            return 6;
        case unit_type::kLabel:
            return 2;
        case unit_type::kEditBox:
            return 2;
        default:
            return 1;
    }
}

Bytes EncodeForm(const Form& form) {
    Bytes out;
    ByteWriter w(out);
    const auto count = static_cast<std::uint32_t>(form.windows.size());
    w.U32(8 * count);
    for (const auto& win : form.windows) w.U32(win.id);
    for (const auto& win : form.windows) w.U32(win.listWord);
    for (const auto& win : form.windows) {
        w.U32(win.leadWord);
        w.U32(win.classWord);
        w.U32(0);
        w.U32(0);
        w.U32(static_cast<std::uint32_t>(win.units.size()));
        const auto sizeAt = w.Size();
        w.U32(0);
        for (const auto& u : win.units) w.U32(u.id);
        const auto offsetsAt = w.Size();
        w.Zeros(4 * win.units.size());
        const auto recordsStart = w.Size();
        for (std::size_t i = 0; i < win.units.size(); ++i) {
            w.PatchU32(offsetsAt + 4 * i, static_cast<std::uint32_t>(w.Size() - recordsStart));
            EncodeUnit(w, win.units[i]);
        }
        w.PatchU32(sizeAt, static_cast<std::uint32_t>(w.Size() - sizeAt - 4));
    }
    return out;
}

FormReadResult DecodeForm(std::span<const std::uint8_t> bytes) {
    FormReadResult result;
    auto fail = [&](std::string message) {
        result.ok = false;
        result.error = std::move(message);
        return result;
    };
    ByteReader r(bytes);
    const auto listSize = r.U32();
    if (r.Failed() || listSize % 8 != 0 || listSize > r.Remaining())
        return fail("window list size does not fit the data");
    const auto count = listSize / 8;
    result.form.windows.resize(count);
    for (auto& win : result.form.windows) win.id = r.U32();
    for (auto& win : result.form.windows) win.listWord = r.U32();
    for (auto& win : result.form.windows) {
        win.leadWord = r.U32();
        win.classWord = r.U32();
        r.U32();
        r.U32();
        const auto unitCount = r.U32();
        const auto blockSize = r.U32();
        if (r.Failed() || blockSize > r.Remaining() || unitCount > blockSize / 8)
            return fail("window block size or unit count does not fit the data");
        ByteReader block(r.Raw(blockSize));
        win.units.resize(unitCount);
        for (auto& u : win.units) u.id = block.U32();
        std::vector<std::uint32_t> offsets(unitCount);
        for (auto& o : offsets) o = block.U32();
        const auto records = block.Raw(block.Remaining());
        for (std::size_t i = 0; i < unitCount; ++i) {
            ByteReader at(records);
            at.Skip(offsets[i]);
            const auto length = at.U32();
            const auto record = at.Raw(length);
            if (at.Failed())
                return fail("unit record " + std::to_string(i) + " leaves its window block");
            std::string error;
            if (!DecodeUnit(record, win.units[i], error))
                return fail("unit " + std::to_string(i) + ": " + error);
        }
    }
    if (r.Failed()) return fail("form data is truncated");
    result.ok = true;
    return result;
}

}  // namespace tessel::image

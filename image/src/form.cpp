#include "tessel/image/form.h"

#include <cstring>
#include <type_traits>

namespace tessel::image {

namespace {

constexpr std::size_t kRecordPad = 20;
constexpr std::size_t kMenuTailPad = 16;
constexpr std::size_t kCommonBlockSize = 25;
constexpr std::size_t kCommonBlockFourAt = 12;  // the one non-zero byte of the common block

void EncodeProperties(ByteWriter& w, std::uint32_t type, const UnitProperties& properties) {
    std::visit(
        [&](const auto& p) {
            using T = std::decay_t<decltype(p)>;
            if constexpr (std::is_same_v<T, Bytes>) {
                w.Raw(p);
            } else if constexpr (std::is_same_v<T, WindowProperties>) {
                w.U32(PropertiesVersion(type));
                w.U32(p.border);
                w.U32(p.minimizeButton);
                w.U32(p.maximizeButton);
                w.U32(p.startPosition);
                w.U32(static_cast<std::uint32_t>(p.icon.size()));
                w.Raw(p.icon);
                w.SizedText(p.title);
            } else if constexpr (std::is_same_v<T, LabelProperties>) {
                w.U32(PropertiesVersion(type));
                w.U32(p.textColour);
                w.U32(p.backColour);
                w.SizedText(p.caption);
            } else if constexpr (std::is_same_v<T, EditBoxProperties>) {
                w.U32(PropertiesVersion(type));
                w.U32(p.backColour);
                w.SizedText(p.content);
            } else if constexpr (std::is_same_v<T, ButtonProperties>) {
                w.U32(PropertiesVersion(type));
                w.SizedText(p.caption);
            } else if constexpr (std::is_same_v<T, TimerProperties>) {
                w.U32(PropertiesVersion(type));
                w.U32(p.period);
            } else if constexpr (std::is_same_v<T, StatusBarProperties>) {
                w.U32(PropertiesVersion(type));
                w.U32(static_cast<std::uint32_t>(p.panes.size()));
                for (const auto& pane : p.panes) {
                    w.U32(pane.width);
                    w.SizedText(pane.text);
                    w.SizedText(pane.second);
                }
            } else if constexpr (std::is_same_v<T, ReportListProperties>) {
                w.U32(PropertiesVersion(type));
                w.U32(p.viewType);
                w.U32(p.backColour);
                w.U32(static_cast<std::uint32_t>(p.columns.size()));
                for (const auto& c : p.columns) {
                    w.SizedText(c.text);
                    w.I32(c.image);
                    w.U32(c.alignment);
                    w.U32(c.width);
                    w.SizedText(c.header);
                }
            } else if constexpr (std::is_same_v<T, MediaPlayerProperties>) {
                w.U32(p.signature);
                w.U32(p.version);
                w.Raw(p.header);
                for (const auto& v : p.values) {
                    w.U16(v.type);
                    switch (v.type) {
                        case ControlValue::kDouble:
                            w.F64(v.number);
                            break;
                        case ControlValue::kLogical:
                            w.U16(v.logical ? 0xFFFF : 0);
                            break;
                        case ControlValue::kText:
                            w.U32(static_cast<std::uint32_t>(2 * (v.text.size() + 1)));
                            for (char16_t c : v.text) w.U16(c);
                            w.U16(0);
                            break;
                        default:
                            w.I32(v.integer);
                            break;
                    }
                }
                w.U32(p.extentX);
                w.U32(p.extentY);
            } else if constexpr (std::is_same_v<T, MenuItemProperties>) {
                // Menu items are written by EncodeUnit; nothing further here.
            }
        },
        properties);
}

void EncodeUnit(ByteWriter& w, const Unit& u) {
    const auto lengthAt = w.Size();
    w.U32(0);
    w.U32(u.type);
    w.Zeros(kRecordPad);
    w.CString(u.name);
    w.CString(u.comment);
    w.U32(0);
    if (const auto* menu = std::get_if<MenuItemProperties>(&u.properties)) {
        w.U32(menu->level);
        w.U32(menu->third);
        w.CString(menu->caption);
        w.U32(menu->clickHandler);
        w.Zeros(kMenuTailPad);
    } else {
        w.I32(u.left);
        w.I32(u.top);
        w.I32(u.width);
        w.I32(u.height);
        std::array<std::uint8_t, kCommonBlockSize> common{};
        common[kCommonBlockFourAt] = 4;
        w.Raw(common);
        w.U32(u.flags);
        w.U32(0);
        w.U32(static_cast<std::uint32_t>(u.events.size()));
        for (const auto& e : u.events) {
            w.I32(e.number);
            w.U32(e.codeOffset);
        }
        w.Zeros(kRecordPad);
        EncodeProperties(w, u.type, u.properties);
    }
    w.PatchU32(lengthAt, static_cast<std::uint32_t>(w.Size() - lengthAt - 4));
}

// Reads one type's properties from the rest of its record; unknown types stay bytes.
bool DecodeProperties(ByteReader& r, std::uint32_t type, UnitProperties& out) {
    const bool versioned = type != unit_type::kMediaPlayer;
    if (versioned) {
        switch (type) {
            case unit_type::kWindow:
            case unit_type::kLabel:
            case unit_type::kEditBox:
            case unit_type::kButton:
            case unit_type::kTimer:
            case unit_type::kStatusBar:
            case unit_type::kReportList:
                if (r.U32() != PropertiesVersion(type)) return false;
                break;
            default: {
                const auto rest = r.Raw(r.Remaining());
                out = Bytes(rest.begin(), rest.end());
                return true;
            }
        }
    }
    switch (type) {
        case unit_type::kWindow: {
            WindowProperties p;
            p.border = r.U32();
            p.minimizeButton = r.U32();
            p.maximizeButton = r.U32();
            p.startPosition = r.U32();
            const auto icon = r.Raw(r.U32());
            p.icon.assign(icon.begin(), icon.end());
            p.title = r.SizedText();
            out = std::move(p);
            break;
        }
        case unit_type::kLabel: {
            LabelProperties p;
            p.textColour = r.U32();
            p.backColour = r.U32();
            p.caption = r.SizedText();
            out = std::move(p);
            break;
        }
        case unit_type::kEditBox: {
            EditBoxProperties p;
            p.backColour = r.U32();
            p.content = r.SizedText();
            out = std::move(p);
            break;
        }
        case unit_type::kButton:
            out = ButtonProperties{r.SizedText()};
            break;
        case unit_type::kTimer:
            out = TimerProperties{r.U32()};
            break;
        case unit_type::kStatusBar: {
            StatusBarProperties p;
            const auto count = r.U32();
            for (std::uint32_t i = 0; i < count && !r.Failed(); ++i) {
                StatusPane pane;
                pane.width = r.U32();
                pane.text = r.SizedText();
                pane.second = r.SizedText();
                p.panes.push_back(std::move(pane));
            }
            out = std::move(p);
            break;
        }
        case unit_type::kReportList: {
            ReportListProperties p;
            p.viewType = r.U32();
            p.backColour = r.U32();
            const auto count = r.U32();
            for (std::uint32_t i = 0; i < count && !r.Failed(); ++i) {
                ListColumn c;
                c.text = r.SizedText();
                c.image = r.I32();
                c.alignment = r.U32();
                c.width = r.U32();
                c.header = r.SizedText();
                p.columns.push_back(std::move(c));
            }
            out = std::move(p);
            break;
        }
        case unit_type::kMediaPlayer: {
            MediaPlayerProperties p;
            p.signature = r.U32();
            p.version = r.U32();
            const auto header = r.Raw(p.header.size());
            if (!r.Failed()) std::memcpy(p.header.data(), header.data(), header.size());
            // Typed values run up to the extent, which closes the record.
            while (!r.Failed() && r.Remaining() > 8) {
                ControlValue v;
                v.type = r.U16();
                switch (v.type) {
                    case ControlValue::kInteger:
                        v.integer = r.I32();
                        break;
                    case ControlValue::kDouble:
                        v.number = r.F64();
                        break;
                    case ControlValue::kLogical:
                        v.logical = r.U16() != 0;
                        break;
                    case ControlValue::kText: {
                        const auto length = r.U32();
                        const auto bytes = r.Raw(length);
                        if (length < 2 || length % 2 != 0) r.Fail();
                        for (std::size_t i = 0; !r.Failed() && i + 2 < bytes.size(); i += 2)
                            v.text.push_back(static_cast<char16_t>(bytes[i] | bytes[i + 1] << 8));
                        break;
                    }
                    default:
                        r.Fail();
                        break;
                }
                p.values.push_back(std::move(v));
            }
            p.extentX = r.U32();
            p.extentY = r.U32();
            out = std::move(p);
            break;
        }
        default:
            break;
    }
    return !r.Failed() && r.Remaining() == 0;
}

bool DecodeUnit(std::span<const std::uint8_t> record, Unit& u, std::string& error) {
    ByteReader r(record);
    u.type = r.U32();
    r.Skip(kRecordPad);
    u.name = r.CString();
    u.comment = r.CString();
    r.U32();
    if (u.type == unit_type::kMenuItem) {
        MenuItemProperties m;
        m.level = r.U32();
        m.third = r.U32();
        m.caption = r.CString();
        m.clickHandler = r.U32();
        r.Skip(kMenuTailPad);
        u.properties = std::move(m);
        if (r.Failed() || r.Remaining() != 0) {
            error = "menu item record has the wrong length";
            return false;
        }
        return true;
    }
    u.left = r.I32();
    u.top = r.I32();
    u.width = r.I32();
    u.height = r.I32();
    r.Skip(kCommonBlockSize);
    u.flags = r.U32();
    r.U32();
    const auto eventCount = r.U32();
    if (eventCount > r.Remaining() / 8) {
        error = "event count runs past the record";
        return false;
    }
    u.events.resize(eventCount);
    for (auto& e : u.events) {
        e.number = r.I32();
        e.codeOffset = r.U32();
    }
    r.Skip(kRecordPad);
    if (r.Failed()) {
        error = "unit record is truncated";
        return false;
    }
    if (!DecodeProperties(r, u.type, u.properties)) {
        error = "properties of a unit of type " + std::to_string(u.type) + " do not fit its record";
        return false;
    }
    return true;
}

}  // namespace

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

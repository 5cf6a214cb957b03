// Readable text of an image: header, tables, sections with their relocations, `@reloc1`
// groups, the forms unit by unit and the texts of `const`.
#include <cstdio>
#include <cstring>

#include "tessel/image/form.h"
#include "tessel/image_tool/program.h"

namespace tessel::image_tool {

namespace {

using image::kNone;

std::string Hex(std::uint32_t v) {
    return image::HexText(v);
}
std::string Id(std::uint32_t v) {
    return image::HexText(v, 8);
}

std::string Quote(std::string_view utf8) {
    std::string s = "\"";
    for (char c : utf8) {
        switch (c) {
            case '"':
                s += "\\\"";
                break;
            case '\\':
                s += "\\\\";
                break;
            case '\r':
                s += "\\r";
                break;
            case '\n':
                s += "\\n";
                break;
            case '\t':
                s += "\\t";
                break;
            default:
                s += c;
                break;
        }
    }
    return s + "\"";
}

std::string Gbk(std::string_view gbk) {
    return Quote(GbkToUtf8(gbk));
}

std::string Utf16(const std::u16string& text) {
    std::string ascii;
    for (char16_t c : text) {
        if (c < 0x80) {
            ascii += static_cast<char>(c);
        } else {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\u%04X", static_cast<unsigned>(c));
            ascii += buf;
        }
    }
    return Quote(ascii);
}

const char* TypeName(std::uint32_t type) {
    switch (type) {
        case image::unit_type::kWindow:
            return "window";
        case image::unit_type::kMenuItem:
            return "menu item";
        case image::unit_type::kEditBox:
            return "edit box";
        case image::unit_type::kLabel:
            return "label";
        case image::unit_type::kButton:
            return "button";
        case image::unit_type::kTimer:
            return "timer";
        case image::unit_type::kStatusBar:
            return "status bar";
        case image::unit_type::kReportList:
            return "report list";
        case image::unit_type::kMediaPlayer:
            return "media player control";
        default:
            return "unit";
    }
}

const char* KindName(std::uint32_t kind) {
    switch (kind) {
        case 0:
            return "service";
        case 1:
            return "const";
        case 2:
            return "var";
        default:
            return "code";
    }
}

std::string Colour(std::uint32_t c) {
    if (c == image::LabelProperties::kNoColour) return "transparent";
    char buf[32];
    std::snprintf(buf, sizeof buf, "RGB(%u,%u,%u)", c & 0xFF, (c >> 8) & 0xFF, (c >> 16) & 0xFF);
    return buf;
}

// "an ICO of N bytes: W×H, B bits" from the icon file's first entry.
std::string IconSummary(const image::Bytes& icon) {
    if (icon.empty()) return "none";
    image::ByteReader r(icon);
    r.U16();
    const auto type = r.U16();
    const auto count = r.U16();
    const auto width = r.U8();
    const auto height = r.U8();
    r.Skip(4);
    const auto bits = r.U16();
    if (r.Failed() || type != 1 || count == 0)
        return std::to_string(icon.size()) + " bytes, not an icon";
    return std::to_string(icon.size()) + " bytes, " + std::to_string(count) + " image(s), first " +
           std::to_string(width == 0 ? 256 : width) + "x" +
           std::to_string(height == 0 ? 256 : height) + " " + std::to_string(bits) + " bits";
}

constexpr const char* kPlayerValueNames[] = {"URL",
                                             "rate",
                                             "balance",
                                             "currentPosition",
                                             "defaultFrame",
                                             "playCount",
                                             "autoStart",
                                             "currentMarker",
                                             "invokeURLs",
                                             "baseURL",
                                             "volume",
                                             "mute",
                                             "uiMode",
                                             "stretchToFit",
                                             "windowlessVideo",
                                             "enabled",
                                             "enableContextMenu",
                                             "fullScreen",
                                             "SAMIStyle",
                                             "SAMILang",
                                             "SAMIFilename",
                                             "captioningID",
                                             "enableErrorDialogs"};

struct Dumper {
    std::string out;
    std::span<const std::uint8_t> code;

    void Line(int indent, const std::string& text) {
        out.append(static_cast<std::size_t>(indent) * 2, ' ');
        out += text;
        out += '\n';
    }

    std::string Handler(std::uint32_t offset) {
        if (offset == kNone) return "none";
        auto name = RoutineAt(code, offset);
        return name ? *name + " (code+" + Hex(offset) + ")" : "code+" + Hex(offset);
    }

    void Properties(const image::Unit& u) {
        std::visit(
            [&](const auto& p) {
                using T = std::decay_t<decltype(p)>;
                if constexpr (std::is_same_v<T, image::Bytes>) {
                    Line(3, "properties: " + std::to_string(p.size()) + " bytes");
                } else if constexpr (std::is_same_v<T, image::WindowProperties>) {
                    Line(3, "title " + Gbk(p.title));
                    Line(3, "icon " + IconSummary(p.icon));
                    Line(3, "border " + std::to_string(p.border) + ", minimize button " +
                                std::to_string(p.minimizeButton) + ", maximize button " +
                                std::to_string(p.maximizeButton) + ", start position " +
                                std::to_string(p.startPosition));
                } else if constexpr (std::is_same_v<T, image::LabelProperties>) {
                    Line(3, "caption " + Gbk(p.caption) + ", text " + Colour(p.textColour) +
                                ", background " + Colour(p.backColour));
                } else if constexpr (std::is_same_v<T, image::EditBoxProperties>) {
                    Line(3, "content " + Gbk(p.content) + ", background " + Colour(p.backColour));
                } else if constexpr (std::is_same_v<T, image::ButtonProperties>) {
                    Line(3, "caption " + Gbk(p.caption));
                } else if constexpr (std::is_same_v<T, image::TimerProperties>) {
                    Line(3, "period " + std::to_string(p.period) + " ms");
                } else if constexpr (std::is_same_v<T, image::StatusBarProperties>) {
                    for (std::size_t i = 0; i < p.panes.size(); ++i)
                        Line(3, "pane " + std::to_string(i) + ": width " +
                                    std::to_string(p.panes[i].width) + ", text " +
                                    Gbk(p.panes[i].text) + ", second " +
                                    Gbk(p.panes[i].unusedText));
                } else if constexpr (std::is_same_v<T, image::ReportListProperties>) {
                    Line(3, "view " + std::to_string(p.viewType) + ", background " +
                                Colour(p.backColour));
                    for (std::size_t i = 0; i < p.columns.size(); ++i) {
                        const auto& c = p.columns[i];
                        Line(3, "column " + std::to_string(i) + ": header " + Gbk(c.header) +
                                    ", width " + std::to_string(c.width) + ", alignment " +
                                    std::to_string(c.alignment) + ", image " +
                                    std::to_string(c.image) + ", text " + Gbk(c.text));
                    }
                } else if constexpr (std::is_same_v<T, image::MediaPlayerProperties>) {
                    std::string header;
                    for (auto b : p.header) header += " " + std::to_string(b);
                    Line(3, "signature " + Hex(p.signature) + ", version " +
                                std::to_string(p.version) + ", header bytes" + header);
                    const bool named = p.values.size() == std::size(kPlayerValueNames);
                    for (std::size_t i = 0; i < p.values.size(); ++i) {
                        const auto& v = p.values[i];
                        std::string text =
                            named ? kPlayerValueNames[i] : "value " + std::to_string(i);
                        switch (v.type) {
                            case image::ControlValue::kInteger:
                                text += " = integer " + std::to_string(v.integer);
                                break;
                            case image::ControlValue::kDouble: {
                                char buf[32];
                                std::snprintf(buf, sizeof buf, "%g", v.number);
                                text += std::string(" = double ") + buf;
                                break;
                            }
                            case image::ControlValue::kLogical:
                                text += std::string(" = logical ") + (v.logical ? "true" : "false");
                                break;
                            default:
                                text += " = text " + Utf16(v.text);
                                break;
                        }
                        Line(3, text);
                    }
                    Line(3, "extent " + std::to_string(p.extentX) + " x " +
                                std::to_string(p.extentY) + " (0.01 mm)");
                } else if constexpr (std::is_same_v<T, image::MenuItemProperties>) {
                    Line(3, "caption " + Gbk(p.caption) + ", level " + std::to_string(p.level) +
                                ", third word " + std::to_string(p.menuBarWord) + ", click -> " +
                                Handler(p.clickHandler));
                }
            },
            u.properties);
    }

    void Form(std::span<const std::uint8_t> data) {
        auto r = image::DecodeForm(data);
        if (!r.ok) {
            Line(1, "(form data not readable: " + r.error + ")");
            return;
        }
        for (const auto& w : r.form.windows) {
            Line(1, "window " + Id(w.id) + ": class " + Hex(w.classWord) + ", " +
                        std::to_string(w.units.size()) + " units");
            for (const auto& u : w.units) {
                Line(2, "unit " + Id(u.id) + " " + Gbk(u.name) + ": " + TypeName(u.type) + " (" +
                            Hex(u.type) + ")" +
                            (u.comment.empty() ? "" : " comment " + Gbk(u.comment)));
                if (u.type != image::unit_type::kMenuItem) {
                    Line(3, "left " + std::to_string(u.left) + ", top " + std::to_string(u.top) +
                                ", width " + std::to_string(u.width) + ", height " +
                                std::to_string(u.height) + ", flags " + std::to_string(u.flags) +
                                ((u.flags & image::kUnitShown) ? " shown" : " hidden") +
                                ((u.flags & image::kUnitTakesFocus) ? ", takes focus" : ""));
                    for (const auto& e : u.events)
                        Line(3,
                             "event " + std::to_string(e.number) + " -> " + Handler(e.codeOffset));
                }
                Properties(u);
            }
        }
    }

    // Texts of the pool: runs of printable ASCII or GBK pairs closed by a NUL; other bytes are
    // summed up as data.
    void ConstTexts(std::span<const std::uint8_t> data) {
        std::size_t pos = 0, dataStart = 0;
        bool seenData = false;
        auto flushData = [&](std::size_t end) {
            if (end > dataStart)
                Line(2, Hex(static_cast<std::uint32_t>(dataStart)) + " (" +
                            std::to_string(end - dataStart) + " bytes of data)");
        };
        while (pos < data.size()) {
            // A byte array: a u32 1, its length, the bytes.
            if (pos + 8 <= data.size() && image::LoadU32(data, pos) == 1 &&
                image::LoadU32(data, pos + 4) <= data.size() - pos - 8) {
                flushData(pos);
                const auto length = image::LoadU32(data, pos + 4);
                const auto riff = length >= 4 && std::memcmp(data.data() + pos + 8, "RIFF", 4) == 0;
                Line(2, Hex(static_cast<std::uint32_t>(pos)) + " byte array of " +
                            std::to_string(length) + " bytes" + (riff ? " (RIFF)" : ""));
                pos += 8 + length;
                dataStart = pos;
                seenData = true;
                continue;
            }
            std::size_t end = pos;
            while (end < data.size()) {
                const auto c = data[end];
                if (c >= 0x20 && c < 0x7F) {
                    ++end;
                } else if (c == '\r' || c == '\n' || c == '\t') {
                    ++end;
                } else if (c >= 0x81 && c <= 0xFE && end + 1 < data.size() &&
                           data[end + 1] >= 0x40 && data[end + 1] != 0x7F &&
                           data[end + 1] != 0xFF) {
                    end += 2;
                } else {
                    break;
                }
            }
            // Once binary data has been seen (numbers, tables), only a longer text that follows a
            // NUL counts, so that bytes of numbers are not shown as texts.
            seenData = seenData || dataStart != pos;
            const bool text = end < data.size() && data[end] == 0 && (end > pos || pos == 0) &&
                              (!seenData || (data[pos - 1] == 0 && end - pos >= 6));
            const std::string_view bytes(reinterpret_cast<const char*>(data.data() + pos),
                                         end - pos);
            const auto utf8 = GbkToUtf8(bytes);
            if (text && !(seenData && utf8.find("\\x") != std::string::npos)) {
                flushData(pos);
                Line(2, Hex(static_cast<std::uint32_t>(pos)) + " " + Quote(utf8));
                pos = end + 1;
                dataStart = pos;
            } else {
                pos = std::max(end, pos + 1);
            }
        }
        flushData(data.size());
    }
};

}  // namespace

std::string DumpImage(std::span<const std::uint8_t> bytes, std::string* error) {
    auto r = image::ReadImage(bytes);
    if (!r.ok) {
        if (error != nullptr) *error = r.error;
        return {};
    }
    const auto& img = r.image;
    Dumper d;
    if (const auto* code = img.Find("code")) d.code = code->data;
    const auto& l = r.layout;
    auto headerOf = [&](std::string_view name) {
        for (std::size_t i = 0; i < img.sections.size(); ++i)
            if (img.sections[i].name == name) return i;
        return img.sections.size();
    };
    const auto codeIndex = headerOf("code");

    d.Line(0, "image: " + std::to_string(l.size) + " bytes");
    d.Line(0, "header:");
    d.Line(1, "first section header " + Hex(l.headerOffsets[0]));
    d.Line(1, "reserved " + Hex(img.reserved[0]) + " " + Hex(img.reserved[1]) + " " +
                  Hex(img.reserved[2]) + " " + Hex(img.reserved[3]));
    d.Line(1, "DLL commands " + std::to_string(img.dllLibraries.size()));
    d.Line(1, "entry " + Hex(l.dataOffsets[codeIndex] + img.entryCodeOffset) + " (" +
                  d.Handler(img.entryCodeOffset) + ")");
    for (auto name : image::kHeaderSections)
        d.Line(1, std::string(name) + " section header " + Hex(l.headerOffsets[headerOf(name)]));

    const auto& constData = img.Find("const")->data;
    d.Line(0, "DLL commands:");
    for (std::size_t i = 0; i < img.dllLibraries.size(); ++i)
        d.Line(1, std::to_string(i) + ": library " +
                      Gbk(*image::ConstText(constData, img.dllLibraries[i])) + " (const " +
                      Hex(img.dllLibraries[i]) + "), function " +
                      Gbk(*image::ConstText(constData, img.dllFunctions[i])) + " (const " +
                      Hex(img.dllFunctions[i]) + ")");

    d.Line(0, "support libraries:");
    for (std::size_t i = 0; i < img.libraryRows.size(); ++i) {
        const auto fields = image::SplitLibraryRow(img.libraryRows[i]);
        std::string text = std::to_string(i) + ":";
        for (std::size_t f = 0; f < fields.size() && f < 5; ++f) text += " " + Gbk(fields[f]);
        d.Line(1, text);
        if (fields.size() > 5) {
            const auto records = image::SplitTypeRecords(fields[5]);
            d.Line(2, std::to_string(records.size()) + " type records:");
            for (std::size_t k = 0; k < records.size(); ++k)
                d.Line(3, std::to_string(k + 1) + ": " + GbkToUtf8(records[k]));
        }
    }

    d.Line(0, "sections:");
    for (std::size_t i = 0; i < img.sections.size(); ++i) {
        const auto& s = img.sections[i];
        d.Line(1, s.name + ": header " + Hex(l.headerOffsets[i]) + ", flags " +
                      std::to_string(s.flags) + ", memory " + std::to_string(s.memorySize) +
                      ", stored " + std::to_string(s.stored ? s.data.size() : 0) + ", data " +
                      (s.stored ? Hex(l.dataOffsets[i]) : std::string("none")) + ", next " +
                      Hex(i + 1 < img.sections.size() ? l.headerOffsets[i + 1] : kNone) + ", " +
                      std::to_string(s.relocations.size()) + " relocation words");
        for (auto word : s.relocations) {
            const auto position = image::RelocationPosition(word);
            std::string text = Hex(word) + ": position " + Hex(position) + ", kind " +
                               std::to_string(image::RelocationKindOf(word)) + " (" +
                               KindName(image::RelocationKindOf(word)) + ")";
            if (s.stored && position + 4 <= s.data.size()) {
                const auto value = image::LoadU32(s.data, position);
                text += ", value " + Hex(value);
                if (image::RelocationKindOf(word) == 3) text += " " + d.Handler(value);
            }
            d.Line(2, text);
        }
    }
    d.Line(0, "@reloc1 groups:");
    static constexpr const char* kGroups[] = {"window and unit ids", "DLL-command indexes",
                                              "library rows", "library type tags"};
    for (std::size_t g = 0; g < img.reloc1.size(); ++g) {
        std::string text = std::to_string(g + 1) + " (" + kGroups[g] +
                           "): " + std::to_string(img.reloc1[g].size());
        for (auto v : img.reloc1[g]) text += " " + Hex(v);
        d.Line(1, text);
    }
    d.Line(0, "form:");
    d.Form(img.Find("form")->data);
    d.Line(0, "const texts:");
    d.ConstTexts(constData);
    return d.out;
}

}  // namespace tessel::image_tool

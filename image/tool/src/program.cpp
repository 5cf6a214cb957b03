#include "tessel/image_tool/program.h"

#include <array>
#include <cstdlib>
#include <set>

#include "tessel/image/form.h"
#include "tessel/image_tool/description.h"
#include "tessel/runtime/dll_commands.h"

namespace tessel::image_tool {

using image::Bytes;
using image::ByteWriter;
using image::RelocationKind;
using image::RelocationWord;

namespace {

constexpr std::array<std::string_view, 25> kJsonDocumentMethods = {
    "JsonDocument.Construct",     "JsonDocument.Destruct",    "JsonDocument.Initialize",
    "JsonDocument.Parse",         "JsonDocument.ToJson",      "JsonDocument.SetValue",
    "JsonDocument.SetExpression", "JsonDocument.SetNumber",   "JsonDocument.GetNumber",
    "JsonDocument.GetJson",       "JsonDocument.GetText",     "JsonDocument.GetObject",
    "JsonDocument.Count",         "JsonDocument.Append",      "JsonDocument.GetItemObject",
    "JsonDocument.GetItemText",   "JsonDocument.SetRootItem", "JsonDocument.RemoveRootItem",
    "JsonDocument.RemoveItem",    "JsonDocument.Reset",       "JsonDocument.SetRoot",
    "JsonDocument.Exists",        "JsonDocument.MemberNames", "JsonDocument.TypeOf",
    "JsonDocument.Clear",
};

constexpr std::array<std::string_view, 17 + 25> kRoutines = [] {
    std::array<std::string_view, 17 + 25> all{"OnMainWindowCreated",
                                              "OnSearch",
                                              "OnSearchBoxKey",
                                              "OnSearchBoxDoubleClick",
                                              "OnChooseSaveDirectory",
                                              "OnProgressTick",
                                              "OnTagClick",
                                              "OnListRightClick",
                                              "OnListDoubleClick",
                                              "OnMainWindowDestroy",
                                              "OnPlay",
                                              "OnDownload",
                                              "OnCopyAddress",
                                              "OnPlayerWindowCloseQuery",
                                              "OnPlayerOpenStateChange"};
    std::size_t i = 15;
    for (auto m : kJsonDocumentMethods) all[i++] = m;
    all[i++] = "CleanUpGlobals";
    all[i++] = "EntryRoutine";  // last: right before the service entries
    return all;
}();

constexpr std::array<std::uint32_t, 13> kServiceOrder = {0x24, 0x28, 0x2C, 0x30, 0x00, 0x04, 0x0C,
                                                         0x18, 0x20, 0x08, 0x14, 0x10, 0x1C};

// The support-library rows; the media player's type list comes from image/data/wmp_types.txt.
struct LibraryRow {
    const char* name;
    const char* identifier;
    int major, minor;
    const char* description;
};
constexpr LibraryRow kLibraries[] = {
    {"basalt", "5A1C2E7B90D34F6A8B1E4C7D2F905A63", 5, 3, "系统核心支持库"},
    {"facet", "8E3D1B6C4A7F42D9B05E6A1C3D8F7B24", 2, 0, "扩展界面支持库"},
    {"ferry", "C47B2E9D1A6F4B3E8D5C0F1A7E2B6D93", 3, 1, "网络传送支持库"},
    {"vestry", "2F8A6D3C9B1E47A5C6D0E8B4F1A3C725", 3, 0, "操作系统界面功能支持库"},
};

std::string Unescape(std::string_view s) {
    std::string out;
    for (std::size_t i = 0; i < s.size(); ++i) {
        if (s[i] != '\\' || i + 1 == s.size()) {
            out += s[i];
            continue;
        }
        switch (s[++i]) {
            case 'n':
                out += '\n';
                break;
            case 'r':
                out += '\r';
                break;
            case 't':
                out += '\t';
                break;
            default:
                out += s[i];
                break;
        }
    }
    return out;
}

class ConstPool {
  public:
    ConstPool() { data_.push_back(0); }  // offset 0: the empty text
    std::uint32_t Text(const std::string& gbk) {
        if (gbk.empty()) return 0;
        if (auto it = texts_.find(gbk); it != texts_.end()) return it->second;
        const auto at = Here();
        ByteWriter(data_).CString(gbk);
        texts_.emplace(gbk, at);
        return at;
    }
    std::uint32_t Double(double v) {
        const auto at = Here();
        ByteWriter(data_).F64(v);
        return at;
    }
    std::uint32_t ByteArray(std::span<const std::uint8_t> bytes) {
        const auto at = Here();
        ByteWriter w(data_);
        w.U32(1);
        w.U32(static_cast<std::uint32_t>(bytes.size()));
        w.Raw(bytes);
        return at;
    }
    // A table of code offsets, each fixed up by a kind-3 word of the `const` section.
    std::uint32_t CodeTable(std::span<const std::uint32_t> codeOffsets) {
        const auto at = Here();
        for (auto offset : codeOffsets) {
            relocations_.push_back(RelocationWord(Here(), RelocationKind::kCode));
            ByteWriter(data_).U32(offset);
        }
        return at;
    }
    std::uint32_t Here() const { return static_cast<std::uint32_t>(data_.size()); }
    Bytes& Data() { return data_; }
    std::vector<std::uint32_t>& Relocations() { return relocations_; }

  private:
    Bytes data_;
    std::map<std::string, std::uint32_t> texts_;
    std::vector<std::uint32_t> relocations_;
};

struct Builder {
    ProgramImage program;
    std::string error;

    bool Gbk(std::string_view utf8, std::string& out) {
        auto converted = Utf8ToGbk(utf8);
        if (!converted) {
            error = "text has no GBK form: " + std::string(utf8);
            return false;
        }
        out = std::move(*converted);
        return true;
    }

    std::optional<std::uint32_t> Handler(const std::string& name) {
        if (name.empty()) return image::kNone;
        auto it = program.stubs.find(name);
        if (it == program.stubs.end()) {
            error = "no routine stub named " + name;
            return std::nullopt;
        }
        return it->second;
    }

    bool ConvertTexts(image::UnitProperties& properties) {
        return std::visit(
            [&](auto& p) {
                using T = std::decay_t<decltype(p)>;
                if constexpr (std::is_same_v<T, image::WindowProperties>)
                    return Gbk(p.title, p.title);
                if constexpr (std::is_same_v<T, image::LabelProperties>)
                    return Gbk(p.caption, p.caption);
                if constexpr (std::is_same_v<T, image::EditBoxProperties>)
                    return Gbk(p.content, p.content);
                if constexpr (std::is_same_v<T, image::ButtonProperties>)
                    return Gbk(p.caption, p.caption);
                if constexpr (std::is_same_v<T, image::StatusBarProperties>) {
                    for (auto& pane : p.panes)
                        if (!Gbk(pane.text, pane.text) || !Gbk(pane.unusedText, pane.unusedText))
                            return false;
                }
                if constexpr (std::is_same_v<T, image::ReportListProperties>) {
                    for (auto& c : p.columns)
                        if (!Gbk(c.text, c.text) || !Gbk(c.header, c.header)) return false;
                }
                return true;
            },
            properties);
    }

    std::optional<image::Unit> Unit(const UnitDescription& d, bool withIcon = false) {
        image::Unit u;
        u.id = d.id;
        u.type = d.type;
        u.left = d.left;
        u.top = d.top;
        u.width = d.width;
        u.height = d.height;
        u.flags = d.flags;
        u.properties = d.properties;
        if (!Gbk(d.name, u.name) || !ConvertTexts(u.properties)) return std::nullopt;
        if (auto* window = std::get_if<image::WindowProperties>(&u.properties); window && withIcon)
            window->icon = program.icon;
        for (const auto& e : d.events) {
            auto offset = Handler(e.handler);
            if (!offset) return std::nullopt;
            u.events.push_back({e.event, *offset});
        }
        return u;
    }

    std::optional<Bytes> Form() {
        image::Form form;
        for (const auto& w : ProgramWindows()) {
            image::FormWindow window;
            window.id = w.id;
            window.classWord = w.classWord;
            auto self = Unit(w.self, w.programIcon);
            if (!self) return std::nullopt;
            window.units.push_back(std::move(*self));
            for (const auto& d : w.units) {
                auto u = Unit(d);
                if (!u) return std::nullopt;
                window.units.push_back(std::move(*u));
            }
            for (const auto& m : w.menu) {
                image::Unit u;
                u.id = m.id;
                u.type = image::unit_type::kMenuItem;
                image::MenuItemProperties item;
                item.level = m.level;
                item.menuBarWord = m.menuBarWord;
                auto handler = Handler(m.handler);
                if (!handler || !Gbk(m.name, u.name) || !Gbk(m.caption, item.caption))
                    return std::nullopt;
                item.clickHandler = *handler;
                u.properties = std::move(item);
                window.units.push_back(std::move(u));
            }
            form.windows.push_back(std::move(window));
        }
        return image::EncodeForm(form);
    }

    struct Entry {
        std::string kind, name, value;
    };

    bool ParseConstants(std::string_view tsv, std::vector<Entry>& entries) {
        std::size_t lineNumber = 0;
        std::set<std::string> names;
        while (!tsv.empty()) {
            const auto end = tsv.find('\n');
            std::string_view line = tsv.substr(0, end);
            tsv.remove_prefix(end == tsv.npos ? tsv.size() : end + 1);
            ++lineNumber;
            if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
            if (line.empty() || line.front() == '#') continue;
            const auto where = "texts line " + std::to_string(lineNumber) + ": ";
            const auto kindEnd = line.find('\t');
            const auto nameEnd = kindEnd == line.npos ? line.npos : line.find('\t', kindEnd + 1);
            if (nameEnd == line.npos) {
                error = where + "expected kind, name, value";
                return false;
            }
            Entry e{std::string(line.substr(0, kindEnd)),
                    std::string(line.substr(kindEnd + 1, nameEnd - kindEnd - 1)),
                    Unescape(line.substr(nameEnd + 1))};
            if (e.kind != "text" && e.kind != "double") {
                error = where + "unknown kind " + e.kind;
                return false;
            }
            if (!names.insert(e.name).second) {
                error = where + "name used twice: " + e.name;
                return false;
            }
            entries.push_back(std::move(e));
        }
        return true;
    }

    bool AddTexts(const std::vector<Entry>& entries, ConstPool& pool) {
        for (const auto& e : entries) {
            if (e.kind != "text") continue;
            std::string gbk;
            if (!Gbk(e.value, gbk)) return false;
            program.constants.push_back({e.name, pool.Text(gbk), "text", gbk});
        }
        return true;
    }

    bool AddDoubles(const std::vector<Entry>& entries, ConstPool& pool) {
        for (const auto& e : entries) {
            if (e.kind != "double") continue;
            char* endPtr = nullptr;
            const double d = std::strtod(e.value.c_str(), &endPtr);
            if (e.value.empty() || *endPtr != '\0') {
                error = "texts: " + e.name + " is not a number: " + e.value;
                return false;
            }
            program.constants.push_back({e.name, pool.Double(d), "double", {}});
        }
        return true;
    }

    std::string MediaPlayerRow(std::string_view list) {
        // Type records, one a line; '#' lines are notes.
        std::string records;
        while (!list.empty()) {
            const auto end = list.find('\n');
            const auto line = list.substr(0, end);
            list.remove_prefix(end == list.npos ? list.size() : end + 1);
            if (!line.empty() && line.front() != '#') records += line;
        }
        std::string row = "@@wmp.dll\r{6BF52A52-394A-11d3-B153-00C04F79FAA6}##0\r1\r0\r";
        std::string description;
        Gbk("Windows媒体播放器1.0版", description);
        return row + description + "\r" + records;
    }

    bool Build(std::string_view tsv, std::string_view wmpTypes) {
        // Code: the stubs, then the service entries.
        Bytes code;
        ByteWriter cw(code);
        for (auto name : kRoutines) {
            program.stubs.emplace(std::string(name), static_cast<std::uint32_t>(cw.Size()));
            cw.U8(0xE9);
            cw.U32(0);  // rel32, completed by the assembler and linker
        }
        std::vector<std::uint32_t> codeRelocations;
        for (auto slot : kServiceOrder) {
            cw.U8(0xFF);
            cw.U8(0x25);
            codeRelocations.push_back(
                RelocationWord(static_cast<std::uint32_t>(cw.Size()), RelocationKind::kService));
            cw.U32(slot);
        }
        // Behind the service entries, one word that the runtime turns into the `var` data's
        // address: how the program's own routines find the globals.
        program.varAddressWord = static_cast<std::uint32_t>(cw.Size());
        codeRelocations.push_back(RelocationWord(program.varAddressWord, RelocationKind::kVar));
        cw.U32(0);

        program.icon = MakeIcon();

        // Texts first, then numbers and binary data, so the texts read as one run.
        ConstPool pool;
        std::vector<Entry> entries;
        if (!ParseConstants(tsv, entries) || !AddTexts(entries, pool)) return false;
        image::Image& img = program.image;
        std::set<std::string> dllNames;
        for (const auto& d : dll::kTable) {
            img.dllLibraries.push_back(pool.Text(d.library));
            img.dllFunctions.push_back(pool.Text(d.function));
            for (const char* text : {d.library, d.function}) {
                if (*text != '\0' && dllNames.insert(text).second)
                    program.constants.push_back(
                        {std::string("Dll_") + text, pool.Text(text), "text", text});
            }
        }
        if (!AddDoubles(entries, pool)) return false;
        program.constants.push_back({"EmptyByteArray", pool.ByteArray({}), "bytes", {}});
        std::vector<std::uint32_t> methodOffsets;
        for (auto m : kJsonDocumentMethods)
            methodOffsets.push_back(program.stubs.at(std::string(m)));
        program.constants.push_back(
            {"JsonDocumentMethodTable", pool.CodeTable(methodOffsets), "table", {}});
        const auto sound = MakeCompletionSound();
        program.constants.push_back({"CompletionSound", pool.ByteArray(sound), "bytes",
                                     std::string(sound.begin(), sound.end())});

        for (const auto& lib : kLibraries) {
            std::string description;
            if (!Gbk(lib.description, description)) return false;
            img.libraryRows.push_back(std::string(lib.name) + "\r" + lib.identifier + "\r" +
                                      std::to_string(lib.major) + "\r" + std::to_string(lib.minor) +
                                      "\r" + description);
        }
        img.libraryRows.push_back(MediaPlayerRow(wmpTypes));

        auto form = Form();
        if (!form) return false;

        using image::StoredSection;
        img.sections.push_back(
            StoredSection("const", 1, std::move(pool.Data()), pool.Relocations()));
        img.sections.push_back(StoredSection("form", 1, std::move(*form), {}));
        img.sections.push_back(StoredSection("help", 1, Bytes(56, 0), {}));
        img.sections.push_back(StoredSection("code", 5, std::move(code), codeRelocations));
        image::Section var;
        var.name = "var";
        var.flags = 19;
        var.memorySize = 16;
        var.stored = false;
        img.sections.push_back(std::move(var));
        // The C++ routines hold no ids, indexes, rows or tags at image positions: four empty
        // groups.
        img.sections.push_back(StoredSection("@reloc1", 1, image::EncodeReloc1(img.reloc1), {}));
        img.entryCodeOffset = program.stubs.at("EntryRoutine");
        return true;
    }
};

}  // namespace

std::span<const std::string_view> RoutineNames() {
    return kRoutines;
}
std::span<const std::string_view> JsonDocumentMethods() {
    return kJsonDocumentMethods;
}
std::span<const std::uint32_t> ServiceEntryOrder() {
    return kServiceOrder;
}

std::string RoutineSymbol(std::string_view routine) {
    std::string symbol = "tessel_";
    for (char c : routine) symbol += c == '.' ? '_' : c;
    return symbol;
}

std::optional<std::string> RoutineAt(std::span<const std::uint8_t> code, std::uint32_t codeOffset) {
    const std::size_t stubs = kRoutines.size() * kStubSize;
    if (code.size() != stubs + kServiceOrder.size() * kServiceEntrySize + kVarAddressWordSize)
        return std::nullopt;
    for (std::size_t i = 0; i < stubs; i += kStubSize)
        if (code[i] != 0xE9) return std::nullopt;
    if (codeOffset % kStubSize != 0 || codeOffset >= stubs) return std::nullopt;
    return std::string(kRoutines[codeOffset / kStubSize]);
}

BuildResult BuildProgram(std::string_view textsTsv, std::string_view wmpTypes) {
    Builder b;
    BuildResult r;
    r.ok = b.Build(textsTsv, wmpTypes);
    r.error = b.error;
    r.program = std::move(b.program);
    return r;
}

}  // namespace tessel::image_tool

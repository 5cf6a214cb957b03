#include "tessel/image/image.h"

#include <algorithm>
#include <cstring>

namespace tessel::image {

namespace {

void SetError(std::string* error, std::string message) {
    if (error != nullptr) *error = std::move(message);
}

std::string Hex(std::uint64_t v) {
    return HexText(v);
}

ReadResult Fail(std::string message) {
    ReadResult r;
    r.error = std::move(message);
    return r;
}

}  // namespace

Section StoredSection(std::string name, std::uint32_t flags, Bytes data,
                      std::vector<std::uint32_t> relocations) {
    Section s;
    s.name = std::move(name);
    s.flags = flags;
    s.memorySize = static_cast<std::uint32_t>(data.size());
    s.data = std::move(data);
    s.relocations = std::move(relocations);
    return s;
}

const Section* Image::Find(std::string_view name) const {
    for (const auto& s : sections)
        if (s.name == name) return &s;
    return nullptr;
}

Section* Image::Find(std::string_view name) {
    for (auto& s : sections)
        if (s.name == name) return &s;
    return nullptr;
}

Bytes WriteImage(const Image& image, Layout* layout, std::string* error) {
    if (image.dllLibraries.size() != image.dllFunctions.size()) {
        SetError(error, "DLL-command table: library and function arrays differ in length");
        return {};
    }
    Bytes out;
    ByteWriter w(out);
    w.Zeros(36);
    w.U32(0);  // first section header, patched below
    for (auto v : image.reserved) w.U32(v);
    w.U32(static_cast<std::uint32_t>(image.dllLibraries.size()));
    w.U32(0);        // entry, patched below
    w.Zeros(4 * 6);  // five section headers and `const` once more, patched below
    for (auto v : image.dllLibraries) w.U32(v);
    for (auto v : image.dllFunctions) w.U32(v);
    for (const auto& row : image.libraryRows) {
        if (row.empty() || row.find('\0') != std::string::npos) {
            SetError(error, "support-library row is empty or holds a NUL");
            return {};
        }
        w.CString(row);
    }
    w.U8(0);  // the empty row ends the table

    Layout l;
    for (std::size_t i = 0; i < image.sections.size(); ++i) {
        const auto& s = image.sections[i];
        if (s.name.empty() || s.name.size() >= kSectionNameSize) {
            SetError(error, "section name must have 1 to 23 characters");
            return {};
        }
        const auto header = static_cast<std::uint32_t>(w.Size());
        l.headerOffsets.push_back(header);
        const auto headerSize =
            kSectionHeaderSize + 4 * static_cast<std::uint32_t>(s.relocations.size());
        const bool last = i + 1 == image.sections.size();
        const auto stored = s.stored ? static_cast<std::uint32_t>(s.data.size()) : 0u;
        w.U32(headerSize);
        w.U32(last ? kNone : header + headerSize + stored);
        w.U32(s.flags);
        w.Raw(s.name);
        w.Zeros(kSectionNameSize - s.name.size());
        w.U32(s.memorySize);
        w.U32(stored);
        w.U32(s.stored ? header + headerSize : kNone);
        w.U32(static_cast<std::uint32_t>(s.relocations.size()));
        w.U32(0);
        for (auto word : s.relocations) w.U32(word);
        l.dataOffsets.push_back(s.stored ? static_cast<std::uint32_t>(w.Size()) : kNone);
        if (s.stored) w.Raw(s.data);
    }
    if (l.headerOffsets.empty()) {
        SetError(error, "image has no sections");
        return {};
    }
    w.PatchU32(0x24, l.headerOffsets[0]);
    for (std::size_t k = 0; k < kHeaderSections.size(); ++k) {
        const auto it =
            std::find_if(image.sections.begin(), image.sections.end(),
                         [&](const Section& s) { return s.name == kHeaderSections[k]; });
        if (it == image.sections.end()) {
            SetError(error, "missing section " + std::string(kHeaderSections[k]));
            return {};
        }
        const auto index = static_cast<std::size_t>(it - image.sections.begin());
        w.PatchU32(0x40 + 4 * k, l.headerOffsets[index]);
        if (k == 0) w.PatchU32(0x54, l.headerOffsets[index]);
        if (kHeaderSections[k] == "code") {
            if (!it->stored || image.entryCodeOffset >= it->data.size()) {
                SetError(error, "entry routine lies outside the code data");
                return {};
            }
            w.PatchU32(0x3C, l.dataOffsets[index] + image.entryCodeOffset);
        }
    }
    l.size = static_cast<std::uint32_t>(out.size());
    if (layout != nullptr) *layout = std::move(l);
    return out;
}

ReadResult ReadImage(std::span<const std::uint8_t> bytes) {
    if (bytes.size() < kHeaderSize) return Fail("file too short for an image header");
    ReadResult r;
    Image& image = r.image;
    ByteReader h(bytes);
    h.Skip(36);
    const auto firstHeader = h.U32();
    for (auto& v : image.reserved) v = h.U32();
    const auto dllCount = h.U32();
    const auto entry = h.U32();
    std::array<std::uint32_t, 6> direct{};
    for (auto& v : direct) v = h.U32();

    // Each command takes 8 bytes of table, so the count is bounded by the file.
    if (dllCount > (bytes.size() - kHeaderSize) / 8)
        return Fail("DLL-command count " + std::to_string(dllCount) + " exceeds the file");
    image.dllLibraries.resize(dllCount);
    image.dllFunctions.resize(dllCount);
    for (auto& v : image.dllLibraries) v = h.U32();
    for (auto& v : image.dllFunctions) v = h.U32();

    for (;;) {
        auto row = h.CString();
        if (h.Failed()) return Fail("support-library table has no empty end row");
        if (row.empty()) break;
        image.libraryRows.push_back(std::move(row));
    }
    const auto tableEnd = h.Position();

    // Walk the chain; every header must lie inside the file and no header may be visited twice.
    std::uint32_t at = firstHeader;
    if (at != tableEnd)
        return Fail("first section header at " + Hex(at) + " does not follow the library table (" +
                    Hex(tableEnd) + ")");
    while (at != kNone) {
        if (r.layout.headerOffsets.size() >= 64) return Fail("section chain too long");
        if (std::find(r.layout.headerOffsets.begin(), r.layout.headerOffsets.end(), at) !=
            r.layout.headerOffsets.end())
            return Fail("section chain loops back to " + Hex(at));
        if (at > bytes.size() || bytes.size() - at < kSectionHeaderSize)
            return Fail("section header at " + Hex(at) + " lies outside the file");
        ByteReader s(bytes.subspan(at));
        Section section;
        const auto headerSize = s.U32();
        const auto next = s.U32();
        section.flags = s.U32();
        const auto name = s.Raw(kSectionNameSize);
        const auto* nameChars = reinterpret_cast<const char*>(name.data());
        section.name.assign(nameChars, strnlen(nameChars, kSectionNameSize));
        section.memorySize = s.U32();
        const auto storedSize = s.U32();
        const auto dataOffset = s.U32();
        const auto relocationCount = s.U32();
        s.U32();
        if (relocationCount > (bytes.size() - at) / 4 ||
            headerSize != kSectionHeaderSize + 4 * relocationCount)
            return Fail("section " + section.name + ": header size " + std::to_string(headerSize) +
                        " does not match " + std::to_string(relocationCount) + " relocation words");
        section.relocations.resize(relocationCount);
        for (auto& word : section.relocations) word = s.U32();
        if (s.Failed())
            return Fail("section " + section.name + ": relocation words leave the file");
        if (dataOffset == kNone) {
            if (storedSize != 0)
                return Fail("section " + section.name + ": stored size without stored data");
            section.stored = false;
            r.layout.dataOffsets.push_back(kNone);
        } else {
            if (dataOffset > bytes.size() || bytes.size() - dataOffset < storedSize)
                return Fail("section " + section.name + ": stored data leaves the file");
            if (storedSize > section.memorySize)
                return Fail("section " + section.name + ": stored size exceeds memory size");
            section.data.assign(bytes.begin() + dataOffset,
                                bytes.begin() + dataOffset + storedSize);
            r.layout.dataOffsets.push_back(dataOffset);
            if (section.name == kReloc1Section) {
                std::string error;
                const auto available =
                    std::min<std::size_t>(bytes.size() - dataOffset, std::size_t{storedSize} + 4);
                if (!DecodeReloc1(bytes.subspan(dataOffset, available), storedSize, image.reloc1,
                                  &error))
                    return Fail("section @reloc1: " + error);
            }
        }
        // Relocations must land inside the section's memory.
        for (auto word : section.relocations) {
            const auto position = RelocationPosition(word);
            if (RelocationKindOf(word) > 3 || section.memorySize < 4 ||
                position > section.memorySize - 4)
                return Fail("section " + section.name + ": relocation word " + Hex(word) +
                            " is outside the section or of unknown kind");
        }
        r.layout.headerOffsets.push_back(at);
        image.sections.push_back(std::move(section));
        at = next;
    }

    // The header's direct fields must reach the headers of the chain by name.
    for (std::size_t k = 0; k < kHeaderSections.size(); ++k) {
        const auto it =
            std::find(r.layout.headerOffsets.begin(), r.layout.headerOffsets.end(), direct[k]);
        if (it == r.layout.headerOffsets.end() ||
            image.sections[static_cast<std::size_t>(it - r.layout.headerOffsets.begin())].name !=
                kHeaderSections[k])
            return Fail("header field " + Hex(0x40 + 4 * k) + " does not reach the " +
                        std::string(kHeaderSections[k]) + " section header");
    }
    if (direct[5] != direct[0]) return Fail("header field 0x54 differs from field 0x40");

    const auto codeIndex = static_cast<std::size_t>(
        std::find(r.layout.headerOffsets.begin(), r.layout.headerOffsets.end(), direct[3]) -
        r.layout.headerOffsets.begin());
    const auto codeData = r.layout.dataOffsets[codeIndex];
    const auto& code = image.sections[codeIndex];
    if (codeData == kNone || entry < codeData || entry - codeData >= code.data.size())
        return Fail("entry routine " + Hex(entry) + " lies outside the code data");
    image.entryCodeOffset = entry - codeData;
    // The image ends with the last header's stored data (or the header itself).
    std::size_t end = tableEnd;
    for (std::size_t i = 0; i < image.sections.size(); ++i) {
        const auto& s = image.sections[i];
        end = std::max<std::size_t>(
            end, r.layout.headerOffsets[i] + kSectionHeaderSize + 4 * s.relocations.size());
        if (s.stored) end = std::max<std::size_t>(end, r.layout.dataOffsets[i] + s.data.size());
    }
    r.layout.size = static_cast<std::uint32_t>(end);
    // Texts of the DLL-command table must lie in `const`.
    const auto* constSection = image.Find("const");
    for (std::uint32_t i = 0; i < dllCount; ++i) {
        if (!ConstText(constSection->data, image.dllLibraries[i]) ||
            !ConstText(constSection->data, image.dllFunctions[i]))
            return Fail("DLL command " + std::to_string(i) + " names a text outside const");
    }
    r.ok = true;
    return r;
}

std::optional<std::size_t> FindImage(std::span<const std::uint8_t> file) {
    static constexpr std::uint8_t kName[kSectionNameSize] = {'c', 'o', 'n', 's', 't'};
    constexpr std::size_t kSearchBack = 1 << 20;  // headers and tables are far smaller
    for (std::size_t name = 0x0C; name + kSectionNameSize <= file.size(); ++name) {
        if (std::memcmp(file.data() + name, kName, kSectionNameSize) != 0) continue;
        const std::size_t header = name - 0x0C;
        if (header < kHeaderSize) continue;
        const std::size_t lowest = header > kSearchBack ? header - kSearchBack : 0;
        for (std::size_t start = header - kHeaderSize + 1; start-- > lowest;) {
            const auto offset = static_cast<std::uint32_t>(header - start);
            if (LoadU32(file, start + 0x24) == offset && LoadU32(file, start + 0x40) == offset &&
                LoadU32(file, start + 0x54) == offset)
                return start;
        }
    }
    return std::nullopt;
}

Bytes EncodeReloc1(const Reloc1Groups& groups) {
    Bytes out;
    ByteWriter w(out);
    for (const auto& group : groups) {
        w.U32(static_cast<std::uint32_t>(group.size()));
        for (auto v : group) w.U32(v);
    }
    return out;
}

bool DecodeReloc1(std::span<const std::uint8_t> bytes, std::size_t statedSize, Reloc1Groups& out,
                  std::string* error) {
    ByteReader r(bytes);
    for (auto& group : out) {
        const auto count = r.U32();
        if (r.Failed() || count > r.Remaining() / 4) {
            SetError(error, "a group's count runs past the data");
            return false;
        }
        group.resize(count);
        for (auto& v : group) v = r.U32();
    }
    if (r.Position() > statedSize + 4) {
        SetError(error, "groups run more than 4 bytes past the stated size");
        return false;
    }
    return true;
}

std::uint32_t RelocationBases::ForKind(std::uint32_t kind) const {
    switch (kind) {
        case 0:
            return services;
        case 1:
            return constData;
        case 2:
            return varData;
        default:
            return codeData;
    }
}

bool FixUpSection(std::span<std::uint8_t> data, std::span<const std::uint32_t> words,
                  const RelocationBases& bases, std::string* error) {
    for (auto word : words) {
        const auto position = RelocationPosition(word);
        if (RelocationKindOf(word) > 3 || data.size() < 4 || position > data.size() - 4) {
            SetError(error,
                     "relocation word " + Hex(word) + " is outside the data or of unknown kind");
            return false;
        }
    }
    for (auto word : words) {
        const auto position = RelocationPosition(word);
        StoreU32(data, position, LoadU32(data, position) + bases.ForKind(RelocationKindOf(word)));
    }
    return true;
}

bool CheckPlacement(const Image& image, std::uint32_t serviceSlots, std::uint32_t varSize,
                    std::string* error) {
    for (std::size_t i = 0; i < image.sections.size(); ++i) {
        for (std::size_t k = 0; k < i; ++k) {
            if (image.sections[k].name == image.sections[i].name) {
                SetError(error, "two sections are named " + image.sections[i].name);
                return false;
            }
        }
    }
    const auto* var = image.Find("var");
    if (var == nullptr || var->memorySize != varSize) {
        SetError(error, "the var section is not " + std::to_string(varSize) + " bytes");
        return false;
    }
    // The bytes each kind's values may reach: the placed data of its section.
    const auto* constSection = image.Find("const");
    const auto* code = image.Find("code");
    const std::uint32_t reach[4] = {
        serviceSlots * 4,
        constSection != nullptr ? static_cast<std::uint32_t>(constSection->data.size()) : 0,
        varSize, code != nullptr ? static_cast<std::uint32_t>(code->data.size()) : 0};
    for (const auto& s : image.sections) {
        for (auto word : s.relocations) {
            const auto position = RelocationPosition(word);
            const auto kind = RelocationKindOf(word);
            if (kind > 3 || s.data.size() < 4 || position > s.data.size() - 4) {
                SetError(error, "section " + s.name + ": relocation word " + Hex(word) +
                                    " is outside the stored data or of unknown kind");
                return false;
            }
            const auto value = LoadU32(s.data, position);
            const bool placed = kind == static_cast<std::uint32_t>(RelocationKind::kService)
                                    ? value % 4 == 0 && value < reach[kind]
                                    : value < reach[kind];
            if (!placed) {
                static constexpr const char* kTargets[] = {"the service table", "const", "var",
                                                           "code"};
                SetError(error, "section " + s.name + ": relocation word " + Hex(word) + " holds " +
                                    Hex(value) + ", outside " + kTargets[kind]);
                return false;
            }
        }
    }
    return true;
}

std::optional<std::string> ConstText(std::span<const std::uint8_t> constData,
                                     std::uint32_t offset) {
    if (offset >= constData.size()) return std::nullopt;
    ByteReader r(constData.subspan(offset));
    auto text = r.CString();
    if (r.Failed()) return std::nullopt;
    return text;
}

std::vector<std::string> SplitLibraryRow(std::string_view row) {
    std::vector<std::string> fields;
    std::size_t start = 0;
    for (;;) {
        const auto cr = row.find('\r', start);
        // An ActiveX row's sixth field is the type list, which holds no CR.
        fields.emplace_back(
            row.substr(start, cr == std::string_view::npos ? row.npos : cr - start));
        if (cr == std::string_view::npos) break;
        start = cr + 1;
    }
    return fields;
}

std::vector<std::string> SplitTypeRecords(std::string_view list) {
    // kind "," "{guid}" "," name "," "{...}" "," "{...}" "," "{...}"
    std::vector<std::string> records;
    std::size_t pos = 0;
    while (pos < list.size()) {
        const auto start = pos;
        auto skipPast = [&](char c) {
            const auto at = list.find(c, pos);
            pos = at == std::string_view::npos ? list.size() : at + 1;
        };
        skipPast('}');  // the GUID
        skipPast(',');  // comma after the GUID
        skipPast(',');  // the name
        for (int i = 0; i < 3; ++i) skipPast('}');
        records.emplace_back(list.substr(start, pos - start));
    }
    return records;
}

}  // namespace tessel::image

#include "song_tags.h"

#include <fcntl.h>
#include <taglib/audioproperties.h>
#include <taglib/fileref.h>
#include <taglib/id3v1tag.h>
#include <taglib/id3v2tag.h>
#include <taglib/tag.h>
#include <taglib/tfilestream.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <map>
#include <system_error>

#include "search_text.h"

namespace tessel::catalogue {
namespace {

namespace fs = std::filesystem;

constexpr std::string_view kReplacement = "\xEF\xBF\xBD";  // U+FFFD in UTF-8

std::string Trimmed(std::string text) {
    const auto blank = [](unsigned char c) { return c == ' ' || (c >= '\t' && c <= '\r'); };
    while (!text.empty() && blank(static_cast<unsigned char>(text.back()))) text.pop_back();
    size_t start = 0;
    while (start < text.size() && blank(static_cast<unsigned char>(text[start]))) ++start;
    return text.substr(start);
}

std::string TagText(const TagLib::String& text) {
    return Trimmed(text.to8Bit(true));
}

// TagLib's handler of "Latin-1" texts for one tag kind (`Base`), reading them as `encoding` says.
template <typename Base>
class LegacyTagText : public Base {
  public:
    explicit LegacyTagText(LegacyEncoding encoding) : encoding_(encoding) {}
    TagLib::String parse(const TagLib::ByteVector& data) const override {
        return TagLib::String(
            DecodeLegacyTagText(std::string_view(data.data(), data.size()), encoding_),
            TagLib::String::UTF8);
    }

  private:
    LegacyEncoding encoding_;
};

// TagLib reads ID3v1 fields and ID3v2 frames marked ISO-8859-1 through one process-wide handler
// per tag kind: ours while a file is read, TagLib's own (plain Latin-1) otherwise and for
// "latin1". UTF-16 and UTF-8 frames never reach them.
class LegacyTagDecoding {
  public:
    explicit LegacyTagDecoding(LegacyEncoding encoding) : id3v1_(encoding), id3v2_(encoding) {
        if (encoding == LegacyEncoding::kLatin1) return;
        TagLib::ID3v1::Tag::setStringHandler(&id3v1_);
        TagLib::ID3v2::Tag::setLatin1StringHandler(&id3v2_);
    }
    ~LegacyTagDecoding() {
        TagLib::ID3v1::Tag::setStringHandler(nullptr);
        TagLib::ID3v2::Tag::setLatin1StringHandler(nullptr);
    }
    LegacyTagDecoding(const LegacyTagDecoding&) = delete;
    LegacyTagDecoding& operator=(const LegacyTagDecoding&) = delete;

  private:
    LegacyTagText<TagLib::ID3v1::StringHandler> id3v1_;
    LegacyTagText<TagLib::ID3v2::Latin1StringHandler> id3v2_;
};

// The raw texts of an APEv2 tag at the end of `file` (before an ID3v1 tag, if any), by lower-case
// key. APE texts are UTF-8 by definition, but older Chinese taggers wrote GBK into them, which
// TagLib's UTF-8 reading loses.
std::map<std::string, std::string> RawApeTexts(const fs::path& file) {
    std::map<std::string, std::string> texts;
    std::ifstream in(file, std::ios::binary);
    in.seekg(0, std::ios::end);
    const auto size = static_cast<int64_t>(in.tellg());
    for (const int64_t tail : {int64_t{0}, int64_t{128}}) {
        constexpr int64_t kFooter = 32;
        if (size < tail + kFooter) continue;
        std::string footer(kFooter, '\0');
        in.seekg(size - tail - kFooter);
        in.read(footer.data(), kFooter);
        if (!in || !footer.starts_with("APETAGEX")) continue;
        auto word = [](const std::string& bytes, size_t at) {
            return static_cast<uint32_t>(static_cast<uint8_t>(bytes[at])) |
                   static_cast<uint32_t>(static_cast<uint8_t>(bytes[at + 1])) << 8 |
                   static_cast<uint32_t>(static_cast<uint8_t>(bytes[at + 2])) << 16 |
                   static_cast<uint32_t>(static_cast<uint8_t>(bytes[at + 3])) << 24;
        };
        const int64_t tagSize = word(footer, 12);  // the items and the footer
        if (tagSize < kFooter || tagSize > size - tail || tagSize > (1 << 20)) return texts;
        std::string items(static_cast<size_t>(tagSize - kFooter), '\0');
        in.seekg(size - tail - tagSize);
        in.read(items.data(), static_cast<std::streamsize>(items.size()));
        if (!in) return texts;
        for (size_t at = 0; at + 8 < items.size();) {
            const size_t length = word(items, at);
            const uint32_t flags = word(items, at + 4);
            const size_t keyEnd = items.find('\0', at + 8);
            if (keyEnd == std::string::npos || length > items.size() - keyEnd - 1) break;
            std::string key = items.substr(at + 8, keyEnd - at - 8);
            std::transform(key.begin(), key.end(), key.begin(),
                           [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
            if ((flags >> 1 & 3) == 0) texts[key] = items.substr(keyEnd + 1, length);  // text
            at = keyEnd + 1 + length;
        }
        return texts;
    }
    return texts;
}

// A field TagLib found no text for, or lost, taken from the raw APE text when that is not UTF-8:
// read like a field marked ISO-8859-1.
void TakeLegacyApeTexts(const fs::path& file, LegacyEncoding encoding, SongRecord& song) {
    const std::map<std::string, std::string> raw = RawApeTexts(file);
    for (auto [key, field] : {std::pair{"title", &song.title}, std::pair{"artist", &song.artist},
                              std::pair{"album", &song.album}}) {
        const auto found = raw.find(key);
        if (found == raw.end() || IsValidUtf8(found->second)) continue;
        const std::string decoded = Trimmed(DecodeLegacyTagText(found->second, encoding));
        const bool lost = field->empty() || field->find(kReplacement) != std::string::npos;
        if (lost) *field = decoded;
    }
}

// A '/'-separated relative folder, each name decoded by itself (one may be UTF-8, the next GBK).
std::string FolderName(const std::string& folder, LegacyEncoding encoding) {
    std::string name;
    size_t start = 0;
    while (true) {
        const size_t slash = folder.find('/', start);
        name += DecodeFileName(std::string_view(folder).substr(start, slash - start), encoding);
        if (slash == std::string::npos) return name;
        name += '/';
        start = slash + 1;
    }
}

std::string LibraryName(const fs::path& library, LegacyEncoding encoding) {
    std::error_code ec;
    fs::path absolute = fs::absolute(library, ec).lexically_normal();
    if (!absolute.has_filename()) absolute = absolute.parent_path();
    const std::string name = DecodeFileName(absolute.filename().string(), encoding);
    return name.empty() ? "Library" : name;
}

}  // namespace

std::string NameTitle(const std::string& relativePath, LegacyEncoding encoding) {
    return DecodeFileName(Trimmed(fs::path(relativePath).stem().string()), encoding);
}

std::optional<SongRecord> ReadSong(const fs::path& library, const FoundFile& found,
                                   const ScanOptions& options, std::string& why) {
    const LegacyEncoding encoding = options.legacyEncoding;
    SongRecord song;
    song.path = found.path;
    song.size = found.size;
    song.modified = found.modified;
    const fs::path relative(found.path);
    song.folder = relative.parent_path().generic_string();
    song.collectionName =
        song.folder.empty() ? LibraryName(library, encoding) : FolderName(song.folder, encoding);
    const fs::path file = library / relative;
    const LegacyTagDecoding decoding(encoding);
    // Opened for reading only: TagLib would open it for writing too, and every file read would
    // tell the library watch it had been written.
    TagLib::FileStream stream(file.c_str(), true);
    TagLib::FileRef ref(&stream, true, TagLib::AudioProperties::Fast);
    if (ref.isNull()) {
        // TagLib says no more than that; a file it cannot open is not a song we can serve.
        const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0) {
            why = std::strerror(errno);
            return std::nullopt;
        }
        ::close(fd);
    }
    if (!ref.isNull() && ref.tag() != nullptr) {
        song.title = TagText(ref.tag()->title());
        song.artist = TagText(ref.tag()->artist());
        song.album = TagText(ref.tag()->album());
    }
    if (encoding != LegacyEncoding::kLatin1) TakeLegacyApeTexts(file, encoding, song);
    if (!ref.isNull() && ref.audioProperties() != nullptr) {
        song.duration = (ref.audioProperties()->lengthInMilliseconds() + 500) / 1000;
    }
    if (song.title.empty()) song.title = NameTitle(found.path, encoding);
    return song;
}

}  // namespace tessel::catalogue
